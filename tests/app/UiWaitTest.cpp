// A command's sleep runs no timer tick, on every system's event loop (the Windows one does not
// leave timers out when asked to); the pump after it runs the tick that fell due.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "UiWait.h"

#ifdef __linux__
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>
#endif

namespace {

#ifdef __linux__
std::set<std::string> ThreadsOfThisProcess() {
  std::set<std::string> threads;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    threads.insert(entry.path().filename().string());
  return threads;
}

// Many short sleeps (an auto-read's) start no thread each: one waker serves them all.
TEST(CommandSleep, SleepsShareOneWaker) {
  int argc = 1;
  char name[] = "app_wait_tests";
  char* argv[] = {name, nullptr};
  QCoreApplication application(argc, argv);
  // Taken by the looking thread itself, once it and whatever its start brings (a sanitizer's
  // own thread) run.
  std::set<std::string> seen;
  std::atomic<std::size_t> before = 0;
  std::atomic<bool> done = false;
  std::thread looking([&] {
    seen = ThreadsOfThisProcess();
    before = seen.size();
    while (!done) {
      seen.merge(ThreadsOfThisProcess());
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });
  while (before == 0) std::this_thread::yield();
  for (int i = 0; i < 20; ++i) WaitMilliseconds(5);
  done = true;
  looking.join();
  EXPECT_LE(seen.size(), before + 1);
}
#endif

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
