// What the operator meets around the designed window: the command line's start options, the
// line's state in status-bar panel 0, a re-plugged device, the saved log and the log file.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "AppTestSupport.h"
#include "StartOptions.h"

class OperatorTest : public QObject {
  Q_OBJECT

 private slots:
  void startOptionsFillTheBoxesAndOpenOnceShown() {
    SimulatedModuleOnPty module;
    TfrmRTUTest window;
    ProgramOptions options;
    options.port = module.Path().toStdString();
    options.baud = "19200";
    options.format = "8E1";
    options.address = "0x20";
    options.open = true;
    ApplyStartOptions(window, options);
    QCOMPARE(window.Edit1->text(), module.Path());
    QCOMPARE(window.ComboBox1->currentText(), QStringLiteral("19200"));
    QCOMPARE(window.ComboBox6->currentText(), QStringLiteral("8E1"));
    QCOMPARE(window.edmodaddr->text(), QStringLiteral("0x20"));
    QCOMPARE(window.SlaveAddress, 32);                  // applied, as "确定" would
    QVERIFY(window.StatusPanels[1]->text().isEmpty());  // not opened before it is shown
    window.show();
    ScheduleStartActions(window, options);
    QVERIFY(WaitUntil([&] { return !window.StatusPanels[1]->text().isEmpty(); }, 3000));
    QCOMPARE(window.StatusPanels[1]->text(),
             module.Path() + QStringLiteral("打开成功,BaudRate=19200,参数=8E1"));
  }

  void startOptionsLeaveTheDefaultsWhenNotGiven() {
    TfrmRTUTest window;
    ApplyStartOptions(window, ProgramOptions{});
    ScheduleStartActions(window, ProgramOptions{});
    QTest::qWait(50);
    QCOMPARE(window.Edit1->text(), QStringLiteral("COM1"));
    QCOMPARE(window.ComboBox1->currentText(), QStringLiteral("9600"));
    QCOMPARE(window.ComboBox6->currentText(), QStringLiteral("8N1"));
    QCOMPARE(window.SlaveAddress, 100);
    QVERIFY(window.StatusPanels[1]->text().isEmpty());
  }
};

RTUTEST_QTEST_MAIN(OperatorTest)
#include "OperatorTest.moc"
