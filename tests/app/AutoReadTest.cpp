// The auto-read against the simulated module: its cadence and its log, and that it goes on
// after a read-all that failed.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTimer>

#include "AppTestSupport.h"

using kestrum_sim::Simulator;

namespace {
const QString kSent = QStringLiteral(" 发送：");
const QString kReceived = QStringLiteral(" 接收：");
}  // namespace

class AutoReadTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TfrmRTUTest> window;

 private slots:
  void init() { window = std::make_unique<TfrmRTUTest>(); }
  void cleanup() { window.reset(); }

  void readAllsStartAtLeast1850MsApartAndRepeatTheirLog() {
    Simulator::Options options;
    options.module.inputs = {0, 1};
    SimulatedModuleOnPty module(options);
    TfrmRTUTest& w = *window;
    ErrorBoxRecorder boxes;
    OpenPort(w, module.Path());
    const int first = static_cast<int>(LogLines(w).size());

    // Each read-all logs its input request first; note when each one was appended.
    QList<qint64> starts;
    QElapsedTimer clock;
    clock.start();
    connect(w.Memo1, &QPlainTextEdit::blockCountChanged, this, [&] {
      if (w.Memo1->document()->lastBlock().text().endsWith(
              QStringLiteral("64 03 00 10 00 02 CC 3B ")))
        starts << clock.elapsed();
    });
    w.CheckBox2->setChecked(true);
    QVERIFY(WaitUntil([&] { return starts.size() >= 3; }, 10000));
    w.CheckBox2->setChecked(false);
    QTest::qWait(1500);  // the last read-all finishes, its reply is taken
    for (qsizetype i = 1; i < starts.size(); ++i) {
      const qint64 gap = starts[i] - starts[i - 1];
      QVERIFY2(gap >= 1850 - 5, qPrintable(QString::number(gap)));  // sleep jitter of the send
      QVERIFY2(gap < 4000, qPrintable(QString::number(gap)));
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
    QVERIFY(tail.size() >= 24);
    for (qsizetype i = 0; i < tail.size(); i += 8) QCOMPARE(tail.mid(i, 8), oneRead);
    QCOMPARE(Cell(w, 2), QStringLiteral("01 "));
    QVERIFY(boxes.texts.isEmpty());
    // Unchecked: ticks only restart the timer.
    const qsizetype lines = LogLines(w).size();
    QTest::qWait(2200);
    QCOMPARE(LogLines(w).size(), lines);
    QVERIFY(w.Timer2->isActive());
  }

  void autoReadGoesOnAfterAReadAllThatFailed() {
    SimulatedModuleOnPty module;
    TfrmRTUTest& w = *window;
    ErrorBoxRecorder boxes;
    OpenPort(w, module.Path());
    // While an auto read-all pumps events, the operator reopens the port on a name that fails:
    // the read-all's second send then raises "Device not opened.".
    bool reopened = false;
    connect(w.Memo1, &QPlainTextEdit::blockCountChanged, this, [&] {
      if (reopened || !w.Memo1->document()->lastBlock().text().endsWith(
                          QStringLiteral("64 03 00 10 00 02 CC 3B ")))
        return;
      reopened = true;
      QTimer::singleShot(0, w.Button1, [&] {
        w.Edit1->setText(kMissingDevice);
        w.Button1->click();
      });
    });
    w.CheckBox2->setChecked(true);
    QVERIFY(WaitUntil([&] { return !boxes.texts.isEmpty(); }, 5000));
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("Device not opened.")});
    QVERIFY(!w.XMODEM1.Opened());
    QVERIFY(w.Timer2->isActive());
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
