// A cable pulled while auto-read runs: the module's pseudo-terminal goes away at different
// moments of the read-all (inside a send, a pump, a receive poll), in this process or by
// killing the simulator program. The window must not crash, never stay blocked for a send
// time-out, show no error box, keep the status list's last values, and open the module again
// when it is back under a new name.
#include <QLabel>

#include "AppTestSupport.h"
#include "LossScenario.h"

class DeviceLossTest : public WindowTestCase {
  Q_OBJECT

 private:
  static void Check(const LossReport& report) {
    qInfo(
        "longest stall %lld ms (after the pull %lld ms), %d error boxes (%d at once), %d "
        "sends into the lost line%s%s",
        report.longestStallMs, report.longestStallAfterLossMs, report.errorBoxes,
        report.mostBoxesAtOnce, report.sendsIntoTheLostLine, report.boxTexts.isEmpty() ? "" : ": ",
        qPrintable(report.boxTexts.join(" | ")));
    QVERIFY2(report.failure.isEmpty(), qPrintable(report.failure));
    QVERIFY(report.longestStallAfterLossMs < 5000);
    QVERIFY(report.mostBoxesAtOnce <= 1);
    // The lost device is let go once the read-all under way has ended: at most its rest is
    // sent into the lost line (without waiting on it), no further read-all.
    QVERIFY(report.sendsIntoTheLostLine <= 1);
    QCOMPARE(report.errorBoxes, 0);
  }

 private slots:
  void masterClosedDuringTheReadAll_data() {
    QTest::addColumn<int>("pullAfterMs");
    // After the input block was decoded: in the read-all's pumps, in its sleeps around the
    // second send, and between two read-alls.
    QTest::newRow("right after the input reply") << 0;
    QTest::newRow("around the output request") << 250;
    QTest::newRow("between read-alls") << 1300;
  }

  void masterClosedDuringTheReadAll() {
    QFETCH(int, pullAfterMs);
    InProcessModule first({1, 0});
    LossPlan plan;
    plan.pullAfterMs = pullAfterMs;
    Check(RunLossScenario(
        *window_, first,
        [] {
          return std::make_unique<InProcessModule>(std::array<std::uint16_t, 2>{0, 1});
        },
        plan));
  }

  void simulatorProgramKilled() {
    const bool hardKill = true;  // SIGKILL: the program gets no say (SIGTERM: see loss-test.sh)
    const QString program = QStringLiteral(KESTRUM_SIM_PROGRAM);
    ProcessModule first(program, {1, 0}, hardKill);
    QVERIFY2(first.StartError().isEmpty(), qPrintable(first.StartError()));
    LossPlan plan;
    plan.pullAfterMs = 400;
    Check(RunLossScenario(
        *window_, first,
        [&] {
          return std::make_unique<ProcessModule>(program, std::array<std::uint16_t, 2>{0, 1},
                                                 hardKill);
        },
        plan));
  }
};

RTUTEST_QTEST_MAIN(DeviceLossTest)
#include "DeviceLossTest.moc"
