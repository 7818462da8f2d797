// A command's sleep runs no timer tick, on every system's event loop (the Windows one does not
// leave timers out when asked to); the pump after it runs the tick that fell due.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "UiWait.h"

namespace {

TEST(CommandSleep, RunsNoTimerTickAndThePumpAfterItRunsTheDueOne) {
  int argc = 1;
  char name[] = "app_wait_tests";
  char* argv[] = {name, nullptr};
  QCoreApplication application(argc, argv);
  int ticks = 0;
  QTimer timer;
  timer.setInterval(10);
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start();
  QElapsedTimer clock;
  clock.start();
  WaitMilliseconds(300);
  const qint64 slept = clock.elapsed();
  EXPECT_GE(slept, 300);
  EXPECT_LT(slept, 600);
  EXPECT_EQ(ticks, 0);
  PumpPendingEvents();
  EXPECT_GE(ticks, 1);
  EXPECT_FALSE(InsideCommandWait());
}

}  // namespace
