// The window without a device: what a fresh start shows, focus order, resizing, the status
// list's look, fonts, the error report, the open-port command's failure path and its mapping
// of the typed settings, the slave-address texts, and commands on a closed port.
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <ctime>

#include "AppTestSupport.h"
#include "Appearance.h"
#include "LogPane.h"
#include "LogTimeStamp.h"

using namespace xcom;

class WindowTest : public WindowTestCase {
  Q_OBJECT

 private slots:
  void freshStartShowsTheDesignedValues() {
    TfrmRTUTest& w = *window_;
    QCOMPARE(w.windowTitle(), QStringLiteral("KESTRUM RTU串口测试 V1.2"));
    QCOMPARE(w.size(), QSize(635, 628));
    const QComboBox* baud = Control<QComboBox>(w, "ComboBox1");
    const QComboBox* format = Control<QComboBox>(w, "ComboBox6");
    QCOMPARE(Control<QLineEdit>(w, "Edit1")->text(), QStringLiteral("COM1"));
    QCOMPARE(baud->currentText(), QStringLiteral("9600"));
    QCOMPARE(baud->currentIndex(), 5);
    QCOMPARE(baud->count(), 15);
    QCOMPARE(baud->itemText(14), QStringLiteral("921600"));
    QCOMPARE(format->currentText(), QStringLiteral("8N1"));
    QCOMPARE(format->count(), 12);
    QCOMPARE(format->itemText(11), QStringLiteral("7O2"));
    QCOMPARE(Control<QLineEdit>(w, "edmodaddr")->text(), QStringLiteral("100"));
    QVERIFY(!Control<QCheckBox>(w, "CheckBox2")->isChecked());
    QCOMPARE(Control<QCheckBox>(w, "CheckBox2")->text(), QStringLiteral("自动读取 "));
    QVERIFY(Control<QCheckBox>(w, "CheckBox1")->isChecked());
    QCOMPARE(Control<QLabel>(w, "Label1")->text(), QStringLiteral("读取所有通道状态        "));
    QCOMPARE(Control<QLabel>(w, "Label2")->text(), QStringLiteral("子站地址 "));
    QVERIFY(w.LogPane().toPlainText().isEmpty());
    // Editable: it takes the keyboard and input methods (typing: see the test at the end;
    // wrapping at the pane's width: longLogLinesWrapAtThePaneWidth).
    QCOMPARE(w.LogPane().focusPolicy(), Qt::StrongFocus);
    QVERIFY(w.LogPane().testAttribute(Qt::WA_InputMethodEnabled));
    QCOMPARE(w.LogPane().verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(w.LogPane().horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(w.StatusText(0), QStringLiteral("未打开"));  // the line's state
    QVERIFY(w.StatusText(1).isEmpty());
    QCOMPARE(Control<QLabel>(w, "StatusBar1Panel0")->width(), 100);
    QCOMPARE(Control<QLabel>(w, "StatusBar1Panel1")->width(), 200);
    QCOMPARE(w.Session().SlaveAddress, 100);
    QCOMPARE(w.Session().DeviceMode, -1);
    QVERIFY(!w.Session().ReadingOutputs);

    // The six rows: two header rows with their texts, four channel rows with empty data.
    const QTableWidget* list = Control<QTableWidget>(w, "ListView1");
    QCOMPARE(list->rowCount(), 6);
    const char* names[] = {"", "DI0", "DI1", "", "DO0", "DO1"};
    for (int row = 0; row < 6; ++row)
      QCOMPARE(list->item(row, 0)->text(), QString::fromLatin1(names[row]));
    QCOMPARE(Cell(w, 0), QStringLiteral("DIN通道状态"));
    QCOMPARE(Cell(w, 3), QStringLiteral("DO通道状态"));
    for (int row : {1, 2, 4, 5}) QVERIFY(Cell(w, row).isEmpty());
    QCOMPARE(list->columnWidth(0), 100);
    QCOMPARE(list->columnWidth(1), 180);
    QCOMPARE(list->columnWidth(2), 0);
    QCOMPARE(list->horizontalHeaderItem(1)->text(), QStringLiteral("数据"));
    QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);

    // Both timers run from creation; the port is closed and configured as designed.
    QVERIFY(Control<QTimer>(w, "Timer1")->isActive());
    QVERIFY(Control<QTimer>(w, "Timer2")->isActive());
    QCOMPARE(Control<QTimer>(w, "Timer1")->interval(), 100);
    QCOMPARE(Control<QTimer>(w, "Timer2")->interval(), 1000);
    QVERIFY(!w.Port().Opened());
    QCOMPARE(w.Port().DeviceName(), std::string("COM1"));
    QCOMPARE(w.Port().BaudRate(), br9600);
    QCOMPARE(w.Port().BaudValue(), 9600u);
    QCOMPARE(w.Port().Buffers().InputTimeout(), 5000);
    QCOMPARE(w.Port().Buffers().OutputTimeout(), 5000);
    QCOMPARE(w.Port().Buffers().InputSize(), 2048);
    QCOMPARE(w.Port().Timeouts().ReadInterval(), 100u);
    QCOMPARE(w.Port().Timeouts().ReadMultiplier(), 10u);
    QCOMPARE(w.Port().Timeouts().ReadConstant(), 200u);
    QCOMPARE(w.Port().Timeouts().WriteMultiplier(), 10u);
    QCOMPARE(w.Port().Timeouts().WriteConstant(), 200u);
    QCOMPARE(w.Port().EventChars().EventChar(), 0x0A);
    QVERIFY(w.Port().MonitorEvents() == (TDeviceEvents{deChar, deFlag, deOutEmpty}));
    QVERIFY(w.Port().Synchronize());
    QVERIFY(static_cast<bool>(w.Port().OnData()));
  }

  void controlsStandWhereDesigned() {
    TfrmRTUTest& w = *window_;
    struct Place {
      const char* name;
      QRect rect;
    };
    const Place places[] = {
        {"Panel1", {0, 0, 635, 65}},       {"GroupBox3", {1, 1, 424, 63}},
        {"GroupBox4", {425, 1, 209, 63}},  {"Edit1", {9, 25, 62, 24}},
        {"Button1", {77, 25, 75, 25}},     {"ComboBox1", {158, 25, 78, 24}},
        {"ComboBox6", {254, 25, 59, 24}},  {"edmodaddr", {80, 24, 41, 27}},
        {"Button2", {136, 24, 60, 25}},    {"Panel2", {0, 65, 635, 563}},
        {"Panel3", {1, 1, 633, 440}},      {"Memo1", {1, 441, 633, 102}},
        {"StatusBar1", {1, 543, 633, 19}}, {"GroupBox1", {1, 1, 297, 438}},
        {"GroupBox2", {298, 1, 334, 438}}, {"BitBtn1", {217, 6, 64, 25}},
        {"CheckBox2", {128, 10, 73, 17}},  {"Button3", {56, 56, 75, 25}},
        {"Button6", {176, 125, 75, 25}},
    };
    for (const Place& place : places)
      QVERIFY2(Control<QWidget>(w, place.name)->geometry() == place.rect, place.name);
    QCOMPARE(Control<QFrame>(w, "Panel4")->height(), 34);
    QCOMPARE(Control<QFrame>(w, "Panel4")->width(), Control<QTableWidget>(w, "ListView1")->width());
    QCOMPARE(Control<QTableWidget>(w, "ListView1")->y(),
             Control<QFrame>(w, "Panel4")->geometry().bottom() + 1);
  }

  void resizingGrowsOnlyTheLogPaneAndTheRightHandBoxes() {
    TfrmRTUTest& w = *window_;
    const QRect groupBox3 = Control<QGroupBox>(w, "GroupBox3")->geometry();
    const QRect groupBox1 = Control<QGroupBox>(w, "GroupBox1")->geometry();
    const QRect list = Control<QTableWidget>(w, "ListView1")->geometry();
    const QRect button3 = Control<QPushButton>(w, "Button3")->geometry();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(Control<QGroupBox>(w, "GroupBox3")->geometry(), groupBox3);  // showing changes nothing
    w.resize(735, 728);
    QTRY_COMPARE(w.LogPane().height(), 202);
    QCOMPARE(Control<QFrame>(w, "Panel1")->height(), 65);
    QCOMPARE(Control<QGroupBox>(w, "GroupBox3")->geometry(), groupBox3);
    QCOMPARE(Control<QGroupBox>(w, "GroupBox4")->width(), 309);
    QCOMPARE(Control<QFrame>(w, "Panel3")->height(), 440);
    QCOMPARE(Control<QGroupBox>(w, "GroupBox1")->geometry(), groupBox1);
    QCOMPARE(Control<QTableWidget>(w, "ListView1")->geometry(), list);
    QCOMPARE(Control<QGroupBox>(w, "GroupBox2")->width(), 434);
    QCOMPARE(Control<QGroupBox>(w, "GroupBox2")->height(), 438);
    QCOMPARE(Control<QPushButton>(w, "Button3")->geometry(), button3);
    QCOMPARE(w.LogPane().height(), 202);
    QCOMPARE(w.LogPane().width(), 733);
    QCOMPARE(Control<QStatusBar>(w, "StatusBar1")->height(), 19);
    QCOMPARE(Control<QStatusBar>(w, "StatusBar1")->y(), 643);
    // Smaller than designed: nothing overlaps the status bar, the log pane shrinks first.
    w.resize(600, 560);
    QTRY_COMPARE(w.LogPane().height(), 34);
    QCOMPARE(Control<QFrame>(w, "Panel3")->height(), 440);
  }

  void hiddenControlsAreNeverReachedByTab() {
    TfrmRTUTest& w = *window_;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    for (QWidget* hidden : {Control<QWidget>(w, "CheckBox1"), Control<QWidget>(w, "Button7"),
                            Control<QWidget>(w, "Button8"), Control<QWidget>(w, "Button9"),
                            Control<QWidget>(w, "Button10"), Control<QWidget>(w, "Button11"),
                            Control<QWidget>(w, "RadioGroup1"), Control<QWidget>(w, "Edit2")})
      QVERIFY2(!hidden->isVisible(), qPrintable(hidden->objectName()));

    Control<QLineEdit>(w, "Edit1")->setFocus();
    QVERIFY(WaitUntil([&] { return Control<QLineEdit>(w, "Edit1")->hasFocus(); }, 2000));
    const QList<QWidget*> expected = {
        Control<QLineEdit>(w, "Edit1"),        Control<QComboBox>(w, "ComboBox1"),
        Control<QPushButton>(w, "Button1"),    Control<QComboBox>(w, "ComboBox6"),
        Control<QLineEdit>(w, "edmodaddr"),    Control<QPushButton>(w, "Button2"),
        Control<QPushButton>(w, "BitBtn1"),    Control<QCheckBox>(w, "CheckBox2"),
        Control<QTableWidget>(w, "ListView1"), Control<QPushButton>(w, "Button3"),
        Control<QPushButton>(w, "Button4"),    Control<QPushButton>(w, "Button5"),
        Control<QPushButton>(w, "Button6"),    Control<TLogPane>(w, "Memo1"),
        Control<QLineEdit>(w, "Edit1")};
    QStringList order;
    for (qsizetype i = 0; i < expected.size(); ++i) {
      QWidget* focus = QApplication::focusWidget();
      QVERIFY(focus != nullptr);
      const bool inside = focus == expected[i] || expected[i]->isAncestorOf(focus);
      QVERIFY2(inside, qPrintable(QStringLiteral("step %1: expected %2, got %3")
                                      .arg(i)
                                      .arg(expected[i]->objectName(), focus->objectName())));
      QTest::keyClick(focus, Qt::Key_Tab);
    }
    // Tab moved focus and typed nothing into the log pane.
    QVERIFY(w.LogPane().toPlainText().isEmpty());
  }

  void headerRowsAreDrawnBoldWhiteOnLightRed() {
    TfrmRTUTest& w = *window_;
    w.ShowChannelValue(1, QStringLiteral("01 "));
    for (int row = 0; row < 6; ++row) {
      TListCanvas canvas{Control<QTableWidget>(w, "ListView1")->font(), Qt::black, Qt::white};
      bool defaultDraw = true;
      w.ListView1AdvancedCustomDrawItem(Control<QTableWidget>(w, "ListView1"), row, false,
                                        TCustomDrawStage::cdPrePaint, defaultDraw, canvas);
      const bool header = row == 0 || row == 3;
      QVERIFY(defaultDraw);
      QCOMPARE(canvas.font.bold(), header);
      QCOMPARE(canvas.fontColor, header ? QColor(255, 255, 255) : QColor(Qt::black));
      QCOMPARE(canvas.brushColor, header ? QColor(250, 150, 150) : QColor(Qt::white));
    }
    // And on screen: the background of each row's name cell.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QImage image = Control<QTableWidget>(w, "ListView1")->viewport()->grab().toImage();
    for (int row = 0; row < 6; ++row) {
      const QRect cell = Control<QTableWidget>(w, "ListView1")
                             ->visualItemRect(Control<QTableWidget>(w, "ListView1")->item(row, 0));
      const QColor seen = image.pixelColor(cell.left() + 2, cell.center().y());
      const bool header = row == 0 || row == 3;
      QCOMPARE(seen, header ? QColor(250, 150, 150) : QColor(Qt::white));
    }
  }

  void everyCaptionHasAFontWithChineseGlyphs() {
    TfrmRTUTest& w = *window_;
    for (QWidget* widget : {Control<QWidget>(w, "Button1"), Control<QWidget>(w, "GroupBox3"),
                            Control<QWidget>(w, "Label2"), Control<QWidget>(w, "BitBtn1"),
                            Control<QWidget>(w, "ListView1"), Control<QWidget>(w, "Button3")}) {
      bool chinese = false;
      for (const QString& family : widget->font().families())
        chinese = chinese ||
                  QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese);
      QVERIFY2(chinese, qPrintable(widget->objectName()));
    }
    QCOMPARE(w.font().pixelSize(), 13);
    QCOMPARE(Control<QGroupBox>(w, "GroupBox3")->font().pixelSize(), 14);
    QCOMPARE(Control<QPushButton>(w, "Button1")->font().pixelSize(), 14);
    QCOMPARE(Control<QLineEdit>(w, "Edit1")->font().pixelSize(), 14);  // a child of 串口设置
    QCOMPARE(Control<QPushButton>(w, "Button2")->font().pixelSize(), 13);  // a child of MODBUS设置
  }

  void readButtonGlyphHasAGreyedDisabledImage() {
    const QImage ground = TableGlyphImage(false);
    QCOMPARE(ground.size(), QSize(16, 16));
    QCOMPARE(ground.pixelColor(0, 15), QColor(128, 128, 0));  // olive: the transparent colour
    const QImage glyph = TableGlyphImage();
    QCOMPARE(qAlpha(glyph.pixel(0, 15)), 0);
    QCOMPARE(glyph.pixelColor(7, 3), QColor(0, 0, 160));  // title bar
    QCOMPARE(glyph.pixelColor(2, 6), QColor(Qt::white));  // a cell
    const QImage disabled = Control<QPushButton>(*window_, "BitBtn1")
                                ->icon()
                                .pixmap(16, 16, QIcon::Disabled)
                                .toImage()
                                .convertToFormat(QImage::Format_ARGB32);
    const QColor title = disabled.pixelColor(7, 3);
    QCOMPARE(title.red(), title.blue());  // grey, not blue
  }

  void errorTextGetsAFullStopWhenItsLastCharacterSortsAfterIt() {
    QCOMPARE(ErrorBoxText("Device not opened."), std::string("Device not opened."));
    QCOMPARE(ErrorBoxText("abc"), std::string("abc."));
    QCOMPARE(ErrorBoxText("a/"), std::string("a/."));
    QCOMPARE(ErrorBoxText("a!"), std::string("a!"));
    QCOMPARE(ErrorBoxText("a,"), std::string("a,"));
    QCOMPARE(ErrorBoxText(""), std::string(""));
    QCOMPARE(ErrorBoxText("失败"), std::string("失败."));
  }

  void commandOnAClosedPortShowsDeviceNotOpenedOnce() {
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    Control<QPushButton>(w, "BitBtn1")->click();
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("Device not opened.")});
    QCOMPARE(boxes.titles, QStringList{QStringLiteral("app_window_tests")});
    QVERIFY(w.LogPane().toPlainText().isEmpty());  // no send line for a frame not sent
    QVERIFY(!w.Session().ReadingOutputs);
    // A relay command switches the mode first: the state changes before the failing send.
    Control<QPushButton>(w, "Button3")->click();
    QCOMPARE(boxes.texts.size(), 2);
    QCOMPARE(w.Session().DeviceMode, 0);
    QVERIFY(w.LogPane().toPlainText().isEmpty());
    QVERIFY(!TErrorReport::BoxOpen());
  }

  void aSecondErrorWhileABoxIsOpenIsNotStacked() {
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes(150);
    // While the first box is open, the operator clicks another failing command.
    boxes.whileOpen = [&] {
      QTimer::singleShot(0, Control<QPushButton>(w, "Button4"),
                         [&] { Control<QPushButton>(w, "Button4")->click(); });
    };
    Control<QPushButton>(w, "BitBtn1")->click();
    QCOMPARE(boxes.texts.size(), 1);
    // Once it is closed, the next failure is shown again.
    Control<QPushButton>(w, "Button4")->click();
    QCOMPARE(boxes.texts.size(), 2);
  }

  void anErrorThatReachesTheEventLoopIsReportedToo() {
    struct Throwing : QObject {
      bool event(QEvent*) override { throw std::runtime_error("event failed"); }
    } target;
    ErrorBoxRecorder boxes;
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&target, &event);
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("event failed.")});
  }

  void closedPortTicksDoNothing() {
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    Control<QCheckBox>(w, "CheckBox2")->setChecked(true);
    QTest::qWait(2300);
    QVERIFY(w.LogPane().toPlainText().isEmpty());
    QVERIFY(boxes.texts.isEmpty());
    QVERIFY(Control<QTimer>(w, "Timer2")->isActive());
  }

  void openFailureShowsTheFailureTextAndNoBox() {
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    OpenPort(w, kMissingDevice);
    QCOMPARE(w.StatusText(1), kMissingDevice + QStringLiteral("打开失败"));
    QVERIFY(!w.Port().Opened());
    QCOMPARE(w.Session().DeviceMode, -1);
    QVERIFY(w.LogPane().toPlainText().isEmpty());
    QVERIFY(boxes.texts.isEmpty());
    QCOMPARE(w.Port().DeviceName(), kMissingDevice.toStdString());
  }

  void typedSettingsMapOntoThePort_data() {
    QTest::addColumn<QString>("baud");
    QTest::addColumn<int>("rate");
    QTest::addColumn<uint>("value");
    QTest::newRow("921600 takes the custom route") << "921600" << int(brCustom) << 921600u;
    QTest::newRow("14400 takes the custom route") << "14400" << int(brCustom) << 14400u;
    QTest::newRow("typed 76800") << "76800" << int(brCustom) << 76800u;
    QTest::newRow("typed 33600") << "33600" << int(brCustom) << 33600u;
    QTest::newRow("115200 is a member") << "115200" << int(br115200) << 115200u;
    QTest::newRow("300 is a member") << "300" << int(br300) << 300u;
    QTest::newRow("typed 12345 gives 9600") << "12345" << int(br9600) << 9600u;
    QTest::newRow("empty gives 9600") << "" << int(br9600) << 9600u;
    QTest::newRow("a trailing blank gives 9600") << "9600 " << int(br9600) << 9600u;
    QTest::newRow("a leading blank gives 9600") << " 19200" << int(br9600) << 9600u;
  }
  void typedSettingsMapOntoThePort() {
    QFETCH(QString, baud);
    QFETCH(int, rate);
    QFETCH(uint, value);
    TfrmRTUTest& w = *window_;
    OpenPort(w, kMissingDevice, QStringLiteral("921600"));  // leave a custom rate behind first
    OpenPort(w, kMissingDevice, baud);
    QCOMPARE(int(w.Port().BaudRate()), rate);
    QCOMPARE(w.Port().BaudValue(), value);
  }

  void characterFormatPositionsDecideEachOnTheirOwn() {
    TfrmRTUTest& w = *window_;
    const auto format = [&] {
      return std::make_tuple(w.Port().DataControl().DataBits(), w.Port().DataControl().Parity(),
                             w.Port().DataControl().StopBits());
    };
    OpenPort(w, kMissingDevice, "9600", "7E2");
    QCOMPARE(format(), std::make_tuple(db7, paEven, sb2));
    OpenPort(w, kMissingDevice, "9600", "8X1");  // X: parity kept
    QCOMPARE(format(), std::make_tuple(db8, paEven, sb1));
    OpenPort(w, kMissingDevice, "9600", "7O2");
    OpenPort(w, kMissingDevice, "9600", "8n1");  // lower case: parity kept
    QCOMPARE(format(), std::make_tuple(db8, paOdd, sb1));
    OpenPort(w, kMissingDevice, "9600", "7N1extra");  // characters after the third are ignored
    QCOMPARE(format(), std::make_tuple(db7, paNone, sb1));
    // Shorter texts: a missing position leaves its setting as it was.
    OpenPort(w, kMissingDevice, "9600", "8E");
    QCOMPARE(format(), std::make_tuple(db8, paEven, sb1));
    OpenPort(w, kMissingDevice, "9600", "");
    QCOMPARE(format(), std::make_tuple(db8, paEven, sb1));
    QCOMPARE(w.StatusText(1), kMissingDevice + QStringLiteral("打开失败"));
  }

  void textTypedIntoTheLogStaysAndLinesFollowIt() {
    TfrmRTUTest& w = *window_;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    Control<TLogPane>(w, "Memo1")->setFocus();
    QTest::keyClicks(Control<TLogPane>(w, "Memo1"), "note by operator");
    w.AppendLogLine(QStringLiteral("DI1=01 "));
    QCOMPARE(LogLines(w), (QStringList{"note by operator", "DI1=01 "}));
  }

  void longLogLinesWrapAtThePaneWidth() {
    TfrmRTUTest& w = *window_;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QString hex;
    for (int i = 0; i < 150; ++i) hex += QStringLiteral("9E ");
    w.AppendLogLine(LogTimeStamp() + QStringLiteral(" 接收：") + hex);
    const int rows = Control<TLogPane>(w, "Memo1")->visualRowCount(0);
    QVERIFY2(rows >= 3, qPrintable(QString::number(rows)));
    QCOMPARE(w.LogPane().lineCount(), 1);  // still one line of the log
    // A wider window wraps it into fewer rows; the pane never scrolls sideways.
    w.resize(1200, w.height());
    QTRY_VERIFY(Control<TLogPane>(w, "Memo1")->visualRowCount(0) < rows);
  }

  // Typed text reaches the open-port command as typed, however focus leaves the box.
  void typedFormatTextIsNotRewrittenWhenFocusLeaves() {
    TfrmRTUTest& w = *window_;
    Control<QLineEdit>(w, "Edit1")->setText(kMissingDevice);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QLineEdit* edit = Control<QComboBox>(w, "ComboBox6")->lineEdit();
    const auto type = [&](const char* text) {
      QTest::mouseClick(edit, Qt::LeftButton);
      edit->selectAll();
      QTest::keyClicks(edit, text);
    };
    type("7e2");
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(Control<QComboBox>(w, "ComboBox6")->currentText(), QStringLiteral("7e2"));
    type("8n1");
    QTest::keyClick(edit, Qt::Key_Tab);
    QVERIFY(!edit->hasFocus());
    QCOMPARE(Control<QComboBox>(w, "ComboBox6")->currentText(), QStringLiteral("8n1"));
    type("7e2");
    QTest::mouseClick(Control<QPushButton>(w, "Button1"),
                      Qt::LeftButton);  // the click itself takes the focus
    QCOMPARE(Control<QComboBox>(w, "ComboBox6")->currentText(), QStringLiteral("7e2"));
    QCOMPARE(w.Port().DataControl().Parity(), paNone);  // lower-case e: parity as it was
    QCOMPARE(w.Port().DataControl().DataBits(), db7);
  }

  // Aligned children start once below a group box's caption: at its content rectangle.
  void alignedChildrenFillTheGroupBoxContentRectangle() {
    TfrmRTUTest& w = *window_;
    Control<QGroupBox>(w, "RadioGroup1")
        ->setVisible(true);  // hidden children take no room; shown, it has its place
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QRect box1 = Control<QGroupBox>(w, "GroupBox1")->contentsRect();
    QVERIFY(box1.top() > 0);  // below the caption
    QCOMPARE(Control<QFrame>(w, "Panel4")->geometry(),
             QRect(box1.topLeft(), QSize(box1.width(), 34)));
    QCOMPARE(Control<QTableWidget>(w, "ListView1")->geometry(), box1.adjusted(0, 34, 0, 0));
    const QRect box2 = Control<QGroupBox>(w, "GroupBox2")->contentsRect();
    QTRY_COMPARE(Control<QGroupBox>(w, "RadioGroup1")->geometry(),
                 QRect(box2.left(), box2.bottom() - 115, box2.width(), 116));
    const QPoint readButton = Control<QPushButton>(w, "BitBtn1")
                                  ->mapTo(&w, Control<QPushButton>(w, "BitBtn1")->rect().center());
    const QPoint autoRead = Control<QCheckBox>(w, "CheckBox2")
                                ->mapTo(&w, Control<QCheckBox>(w, "CheckBox2")->rect().center());
    QVERIFY2((readButton - QPoint(254, 107)).manhattanLength() <= 3,
             qPrintable(QString("%1,%2").arg(readButton.x()).arg(readButton.y())));
    QVERIFY2((autoRead - QPoint(169, 107)).manhattanLength() <= 3,
             qPrintable(QString("%1,%2").arg(autoRead.x()).arg(autoRead.y())));
  }

  // The short date, a blank and the long time of the locale, with no time-zone name, also in a
  // zone that is not UTC and in a locale that puts the zone before the time.
  void logStampsCarryNoTimeZone() {
    const QByteArray oldZone = qgetenv("TZ");
    qputenv("TZ", "XYZ-3");
    tzset();
    const QDateTime at(QDate(2026, 12, 7), QTime(23, 27, 30));
    QCOMPARE(LogTimeStamp(QLocale::c(), at), QStringLiteral("7 Dec 2026 23:27:30"));
    QCOMPARE(LogTimeStamp(QLocale(QStringLiteral("en_US")), at),
             QStringLiteral("12/7/26 11:27:30 PM"));
    QCOMPARE(LogTimeStamp(QLocale(QStringLiteral("zh_CN")), at),
             QStringLiteral("2026/12/7 23:27:30"));
    // The zone in brackets: "[t]" goes with its brackets.
    QVERIFY(
        LogTimeStamp(QLocale(QStringLiteral("zh_TW")), at).endsWith(QStringLiteral("23:27:30")));
    const QString now = LogTimeStamp();
    QVERIFY2(!now.contains(QStringLiteral("XYZ")) && !now.contains(QStringLiteral("UTC")),
             qPrintable(now));
    if (oldZone.isNull())
      qunsetenv("TZ");
    else
      qputenv("TZ", oldZone);
    tzset();
  }
};

RTUTEST_QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
