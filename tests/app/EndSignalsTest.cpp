// Ending in order on a signal: each of SIGTERM, SIGINT, SIGHUP and SIGQUIT ends the running
// event loop with 128 + its number (main() then returns and the window closes its port), instead
// of ending the process where it stands.
#include <signal.h>

#include <QTimer>
#include <QtTest>

#include "AppTestSupport.h"
#include "EndSignals.h"

class EndSignalsTest : public QObject {
  Q_OBJECT

 private slots:
  void eachEndingSignalEndsTheEventLoop() {
    for (int number : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
      TEndSignals ends;
      QTimer::singleShot(0, [number] { ::raise(number); });
      QTimer timeLimit;
      timeLimit.callOnTimeout([] { QCoreApplication::exit(-1); });
      timeLimit.start(5000);
      QCOMPARE(QCoreApplication::exec(), 128 + number);
    }
    struct sigaction now {};
    ::sigaction(SIGTERM, nullptr, &now);
    QVERIFY2(now.sa_handler == SIG_DFL, "the default action again once it is gone");
  }
};

RTUTEST_QTEST_MAIN(EndSignalsTest)
#include "EndSignalsTest.moc"
