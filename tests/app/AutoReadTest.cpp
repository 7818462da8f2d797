// The auto-read against the simulated module: its cadence and its log, and that it goes on
// after a read-all that failed.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "AppTestSupport.h"
#include "LogPane.h"

using kestrum_sim::Simulator;

namespace {
const QString kSent = QStringLiteral(" 发送：");
const QString kReceived = QStringLiteral(" 接收：");
}  // namespace

class AutoReadTest : public WindowTestCase {
  Q_OBJECT

 private slots:
  void readAllsStartAtLeast1850MsApartAndRepeatTheirLog() {
    Simulator::Options options;
    options.module.inputs = {0, 1};
    SimulatedModuleOnPty module(options);
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    OpenPort(w, module.Path());
    const int first = static_cast<int>(LogLines(w).size());

    // Note when each auto-read tick has finished: this slot runs right after Timer2Timer,
    // which has just started the timer again. Ticks start 1000 ms after that, and a read-all
    // takes at least 850 ms, so consecutive ends (and starts) are at least 1850 ms apart.
    QList<qint64> ends;
    QElapsedTimer clock;
    clock.start();
    connect(Control<QTimer>(w, "Timer2"), &QTimer::timeout, this, [&] {
      if (Control<QCheckBox>(w, "CheckBox2")->isChecked()) ends << clock.nsecsElapsed();
    });
    Control<QCheckBox>(w, "CheckBox2")->setChecked(true);
    QVERIFY(WaitUntil([&] { return ends.size() >= 4; }, 12000));
    Control<QCheckBox>(w, "CheckBox2")->setChecked(false);
    QTest::qWait(1500);  // the reply to the last output request is taken
    for (qsizetype i = 1; i < ends.size(); ++i) {
      const double gapMs = (ends[i] - ends[i - 1]) / 1e6;
      QVERIFY2(gapMs >= 1850.0, qPrintable(QString::number(gapMs)));
      QVERIFY2(gapMs < 4000.0, qPrintable(QString::number(gapMs)));
    }
    const QStringList oneRead = {kSent + "64 03 00 10 00 02 CC 3B ",
                                 kReceived + "64 03 04 00 00 00 01 0E F5 ",
                                 "DI1=00 ",
                                 "DI2=01 ",
                                 kSent + "64 03 00 14 00 02 8D FA ",
                                 kReceived + "64 03 04 00 00 00 00 CF 35 ",
                                 "DO1=00 ",
                                 "DO2=00 "};
    const QStringList tail = LogTail(w, first);
    QCOMPARE(tail.size() % 8, 0);
    QVERIFY(tail.size() >= 32);
    for (qsizetype i = 0; i < tail.size(); i += 8) QCOMPARE(tail.mid(i, 8), oneRead);
    QCOMPARE(Cell(w, 2), QStringLiteral("01 "));
    QVERIFY(boxes.texts.isEmpty());
    // Unchecked: ticks only restart the timer.
    const qsizetype lines = LogLines(w).size();
    QTest::qWait(2200);
    QCOMPARE(LogLines(w).size(), lines);
    QVERIFY(Control<QTimer>(w, "Timer2")->isActive());
  }

  void autoReadGoesOnAfterAReadAllThatFailed() {
    SimulatedModuleOnPty module;
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    OpenPort(w, module.Path());
    // While an auto read-all pumps events, the operator reopens the port on a name that fails:
    // the read-all's second send then raises "Device not opened.".
    bool reopened = false;
    connect(Control<TLogPane>(w, "Memo1"), &TLogPane::lineCountChanged, this, [&](qsizetype count) {
      if (reopened ||
          !w.LogPane().lineText(count - 1).endsWith(QStringLiteral("64 03 00 10 00 02 CC 3B ")))
        return;
      reopened = true;
      QTimer::singleShot(0, Control<QPushButton>(w, "Button1"), [&] {
        Control<QLineEdit>(w, "Edit1")->setText(kMissingDevice);
        Control<QPushButton>(w, "Button1")->click();
      });
    });
    Control<QCheckBox>(w, "CheckBox2")->setChecked(true);
    QVERIFY(WaitUntil([&] { return !boxes.texts.isEmpty(); }, 5000));
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("Device not opened.")});
    QVERIFY(!w.Port().Opened());
    QVERIFY(Control<QTimer>(w, "Timer2")->isActive());
    // Back on the module: the auto-read carries on by itself.
    const int before = static_cast<int>(LogLines(w).size());
    OpenPort(w, module.Path());
    QVERIFY(WaitUntil(
        [&] {
          return LogTail(w, before).contains(kSent + QStringLiteral("64 03 00 14 00 02 8D FA "));
        },
        5000));
    QCOMPARE(boxes.texts.size(), 1);
  }
};

RTUTEST_QTEST_MAIN(AutoReadTest)
#include "AutoReadTest.moc"
