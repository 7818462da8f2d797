// Clicks made through the X server while a command sleeps wait in the window system's queue:
// they are served as each sleep ends, not at the operator's next mouse move. Runs on a real
// X display (xvfb-run), with the clicks made by another program (xdotool).
#include <QEventLoop>
#include <QGuiApplication>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include "AppTestSupport.h"

class HeldClicksTest : public WindowTestCase {
  Q_OBJECT

 private slots:
  void clicksHeldDuringAnOpenAreServedAsItsSleepEnds();
};

void HeldClicksTest::clicksHeldDuringAnOpenAreServedAsItsSleepEnds() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) QSKIP("needs an X display");
  SimulatedModuleOnPty module;
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  OpenPort(*window_, module.Path());
  auto* open = Control<QPushButton>(*window_, QStringLiteral("Button1"));  // "打开串口"
  constexpr int kClicks = 6;
  int served = 0;
  QEventLoop loop;
  connect(open, &QPushButton::clicked, &loop, [&] {
    if (++served == kClicks) loop.quit();
  });
  const QPoint at = open->mapToGlobal(open->rect().center());
  // Each open sleeps half a second; the later clicks come during those sleeps.
  QProcess clicker;
  clicker.start(QStringLiteral("xdotool"),
                {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                 QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(kClicks),
                 QStringLiteral("--delay"), QStringLiteral("150"), QStringLiteral("1")});
  QElapsedTimer clock;
  clock.start();
  QTimer::singleShot(15000, &loop, &QEventLoop::quit);
  if (served < kClicks) loop.exec();
  QCOMPARE(served, kClicks);
  // Six opens of half a second each, and a margin for a loaded machine.
  QVERIFY2(clock.elapsed() < 8000, qPrintable(QString::number(clock.elapsed())));
  QVERIFY(clicker.state() == QProcess::NotRunning || clicker.waitForFinished(5000));
  QCOMPARE(clicker.exitCode(), 0);
}

RTUTEST_QTEST_MAIN(HeldClicksTest)
#include "HeldClicksTest.moc"
