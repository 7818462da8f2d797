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
    QCOMPARE(w.Edit1->text(), QStringLiteral("COM1"));
    QCOMPARE(w.ComboBox1->currentText(), QStringLiteral("9600"));
    QCOMPARE(w.ComboBox1->currentIndex(), 5);
    QCOMPARE(w.ComboBox1->count(), 15);
    QCOMPARE(w.ComboBox1->itemText(14), QStringLiteral("921600"));
    QCOMPARE(w.ComboBox6->currentText(), QStringLiteral("8N1"));
    QCOMPARE(w.ComboBox6->count(), 12);
    QCOMPARE(w.ComboBox6->itemText(11), QStringLiteral("7O2"));
    QCOMPARE(w.edmodaddr->text(), QStringLiteral("100"));
    QVERIFY(!w.CheckBox2->isChecked());
    QCOMPARE(w.CheckBox2->text(), QStringLiteral("自动读取 "));
    QVERIFY(w.CheckBox1->isChecked());
    QCOMPARE(w.Label1->text(), QStringLiteral("读取所有通道状态        "));
    QCOMPARE(w.Label2->text(), QStringLiteral("子站地址 "));
    QVERIFY(w.Memo1->toPlainText().isEmpty());
    // Editable: it takes the keyboard and input methods (typing: see the test at the end;
    // wrapping at the pane's width: longLogLinesWrapAtThePaneWidth).
    QCOMPARE(w.Memo1->focusPolicy(), Qt::StrongFocus);
    QVERIFY(w.Memo1->testAttribute(Qt::WA_InputMethodEnabled));
    QCOMPARE(w.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(w.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(w.StatusPanels[0]->text(), QStringLiteral("未打开"));  // the line's state
    QVERIFY(w.StatusPanels[1]->text().isEmpty());
    QCOMPARE(w.StatusPanels[0]->width(), 100);
    QCOMPARE(w.StatusPanels[1]->width(), 200);
    QCOMPARE(w.session.SlaveAddress, 100);
    QCOMPARE(w.session.DeviceMode, -1);
    QVERIFY(!w.session.ReadingOutputs);

    // The six rows: two header rows with their texts, four channel rows with empty data.
    QCOMPARE(w.ListView1->rowCount(), 6);
    const char* names[] = {"", "DI0", "DI1", "", "DO0", "DO1"};
    for (int row = 0; row < 6; ++row)
      QCOMPARE(w.ListView1->item(row, 0)->text(), QString::fromLatin1(names[row]));
    QCOMPARE(Cell(w, 0), QStringLiteral("DIN通道状态"));
    QCOMPARE(Cell(w, 3), QStringLiteral("DO通道状态"));
    for (int row : {1, 2, 4, 5}) QVERIFY(Cell(w, row).isEmpty());
    QCOMPARE(w.ListView1->columnWidth(0), 100);
    QCOMPARE(w.ListView1->columnWidth(1), 180);
    QCOMPARE(w.ListView1->columnWidth(2), 0);
    QCOMPARE(w.ListView1->horizontalHeaderItem(1)->text(), QStringLiteral("数据"));
    QCOMPARE(w.ListView1->editTriggers(), QAbstractItemView::NoEditTriggers);

    // Both timers run from creation; the port is closed and configured as designed.
    QVERIFY(w.Timer1->isActive());
    QVERIFY(w.Timer2->isActive());
    QCOMPARE(w.Timer1->interval(), 100);
    QCOMPARE(w.Timer2->interval(), 1000);
    QVERIFY(!w.XMODEM1.Opened());
    QCOMPARE(w.XMODEM1.DeviceName(), std::string("COM1"));
    QCOMPARE(w.XMODEM1.BaudRate(), br9600);
    QCOMPARE(w.XMODEM1.BaudValue(), 9600u);
    QCOMPARE(w.XMODEM1.Buffers().InputTimeout(), 5000);
    QCOMPARE(w.XMODEM1.Buffers().OutputTimeout(), 5000);
    QCOMPARE(w.XMODEM1.Buffers().InputSize(), 2048);
    QCOMPARE(w.XMODEM1.Timeouts().ReadInterval(), 100u);
    QCOMPARE(w.XMODEM1.Timeouts().ReadMultiplier(), 10u);
    QCOMPARE(w.XMODEM1.Timeouts().ReadConstant(), 200u);
    QCOMPARE(w.XMODEM1.Timeouts().WriteMultiplier(), 10u);
    QCOMPARE(w.XMODEM1.Timeouts().WriteConstant(), 200u);
    QCOMPARE(w.XMODEM1.EventChars().EventChar(), 0x0A);
    QVERIFY(w.XMODEM1.MonitorEvents() == (TDeviceEvents{deChar, deFlag, deOutEmpty}));
    QVERIFY(w.XMODEM1.Synchronize());
    QVERIFY(static_cast<bool>(w.XMODEM1.OnData()));
  }

  void controlsStandWhereDesigned() {
    TfrmRTUTest& w = *window_;
    struct Place {
      QWidget* widget;
      QRect rect;
    };
    const Place places[] = {
        {w.Panel1, {0, 0, 635, 65}},       {w.GroupBox3, {1, 1, 424, 63}},
        {w.GroupBox4, {425, 1, 209, 63}},  {w.Edit1, {9, 25, 62, 24}},
        {w.Button1, {77, 25, 75, 25}},     {w.ComboBox1, {158, 25, 78, 24}},
        {w.ComboBox6, {254, 25, 59, 24}},  {w.edmodaddr, {80, 24, 41, 27}},
        {w.Button2, {136, 24, 60, 25}},    {w.Panel2, {0, 65, 635, 563}},
        {w.Panel3, {1, 1, 633, 440}},      {w.Memo1, {1, 441, 633, 102}},
        {w.StatusBar1, {1, 543, 633, 19}}, {w.GroupBox1, {1, 1, 297, 438}},
        {w.GroupBox2, {298, 1, 334, 438}}, {w.BitBtn1, {217, 6, 64, 25}},
        {w.CheckBox2, {128, 10, 73, 17}},  {w.Button3, {56, 56, 75, 25}},
        {w.Button6, {176, 125, 75, 25}},
    };
    for (const Place& place : places)
      QVERIFY2(place.widget->geometry() == place.rect, qPrintable(place.widget->objectName()));
    QCOMPARE(w.Panel4->height(), 34);
    QCOMPARE(w.Panel4->width(), w.ListView1->width());
    QCOMPARE(w.ListView1->y(), w.Panel4->geometry().bottom() + 1);
  }

  void resizingGrowsOnlyTheLogPaneAndTheRightHandBoxes() {
    TfrmRTUTest& w = *window_;
    const QRect groupBox3 = w.GroupBox3->geometry();
    const QRect groupBox1 = w.GroupBox1->geometry();
    const QRect list = w.ListView1->geometry();
    const QRect button3 = w.Button3->geometry();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.GroupBox3->geometry(), groupBox3);  // showing changes nothing
    w.resize(735, 728);
    QTRY_COMPARE(w.Memo1->height(), 202);
    QCOMPARE(w.Panel1->height(), 65);
    QCOMPARE(w.GroupBox3->geometry(), groupBox3);
    QCOMPARE(w.GroupBox4->width(), 309);
    QCOMPARE(w.Panel3->height(), 440);
    QCOMPARE(w.GroupBox1->geometry(), groupBox1);
    QCOMPARE(w.ListView1->geometry(), list);
    QCOMPARE(w.GroupBox2->width(), 434);
    QCOMPARE(w.GroupBox2->height(), 438);
    QCOMPARE(w.Button3->geometry(), button3);
    QCOMPARE(w.Memo1->height(), 202);
    QCOMPARE(w.Memo1->width(), 733);
    QCOMPARE(w.StatusBar1->height(), 19);
    QCOMPARE(w.StatusBar1->y(), 643);
    // Smaller than designed: nothing overlaps the status bar, the log pane shrinks first.
    w.resize(600, 560);
    QTRY_COMPARE(w.Memo1->height(), 34);
    QCOMPARE(w.Panel3->height(), 440);
  }

  void hiddenControlsAreNeverReachedByTab() {
    TfrmRTUTest& w = *window_;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    for (QWidget* hidden : {static_cast<QWidget*>(w.CheckBox1), static_cast<QWidget*>(w.Button7),
                            static_cast<QWidget*>(w.Button8), static_cast<QWidget*>(w.Button9),
                            static_cast<QWidget*>(w.Button10), static_cast<QWidget*>(w.Button11),
                            static_cast<QWidget*>(w.RadioGroup1), static_cast<QWidget*>(w.Edit2)})
      QVERIFY2(!hidden->isVisible(), qPrintable(hidden->objectName()));

    w.Edit1->setFocus();
    QVERIFY(WaitUntil([&] { return w.Edit1->hasFocus(); }, 2000));
    const QList<QWidget*> expected = {w.Edit1,   w.ComboBox1, w.Button1,   w.ComboBox6, w.edmodaddr,
                                      w.Button2, w.BitBtn1,   w.CheckBox2, w.ListView1, w.Button3,
                                      w.Button4, w.Button5,   w.Button6,   w.Memo1,     w.Edit1};
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
    QVERIFY(w.Memo1->toPlainText().isEmpty());
  }

  void headerRowsAreDrawnBoldWhiteOnLightRed() {
    TfrmRTUTest& w = *window_;
    w.ShowChannelValue(1, QStringLiteral("01 "));
    for (int row = 0; row < 6; ++row) {
      TListCanvas canvas{w.ListView1->font(), Qt::black, Qt::white};
      bool defaultDraw = true;
      w.ListView1AdvancedCustomDrawItem(w.ListView1, row, false, TCustomDrawStage::cdPrePaint,
                                        defaultDraw, canvas);
      const bool header = row == 0 || row == 3;
      QVERIFY(defaultDraw);
      QCOMPARE(canvas.font.bold(), header);
      QCOMPARE(canvas.fontColor, header ? QColor(255, 255, 255) : QColor(Qt::black));
      QCOMPARE(canvas.brushColor, header ? QColor(250, 150, 150) : QColor(Qt::white));
    }
    // And on screen: the background of each row's name cell.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QImage image = w.ListView1->viewport()->grab().toImage();
    for (int row = 0; row < 6; ++row) {
      const QRect cell = w.ListView1->visualItemRect(w.ListView1->item(row, 0));
      const QColor seen = image.pixelColor(cell.left() + 2, cell.center().y());
      const bool header = row == 0 || row == 3;
      QCOMPARE(seen, header ? QColor(250, 150, 150) : QColor(Qt::white));
    }
  }

  void everyCaptionHasAFontWithChineseGlyphs() {
    TfrmRTUTest& w = *window_;
    for (QWidget* widget : {static_cast<QWidget*>(w.Button1), static_cast<QWidget*>(w.GroupBox3),
                            static_cast<QWidget*>(w.Label2), static_cast<QWidget*>(w.BitBtn1),
                            static_cast<QWidget*>(w.ListView1), static_cast<QWidget*>(w.Button3)}) {
      bool chinese = false;
      for (const QString& family : widget->font().families())
        chinese = chinese ||
                  QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese);
      QVERIFY2(chinese, qPrintable(widget->objectName()));
    }
    QCOMPARE(w.font().pixelSize(), 13);
    QCOMPARE(w.GroupBox3->font().pixelSize(), 14);
    QCOMPARE(w.Button1->font().pixelSize(), 14);
    QCOMPARE(w.Edit1->font().pixelSize(), 14);    // a child of 串口设置
    QCOMPARE(w.Button2->font().pixelSize(), 13);  // a child of MODBUS设置
  }

  void readButtonGlyphHasAGreyedDisabledImage() {
    const QImage ground = TableGlyphImage(false);
    QCOMPARE(ground.size(), QSize(16, 16));
    QCOMPARE(ground.pixelColor(0, 15), QColor(128, 128, 0));  // olive: the transparent colour
    const QImage glyph = TableGlyphImage();
    QCOMPARE(qAlpha(glyph.pixel(0, 15)), 0);
    QCOMPARE(glyph.pixelColor(7, 3), QColor(0, 0, 160));  // title bar
    QCOMPARE(glyph.pixelColor(2, 6), QColor(Qt::white));  // a cell
    const QImage disabled = window_->BitBtn1->icon()
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
    w.BitBtn1->click();
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("Device not opened.")});
    QCOMPARE(boxes.titles, QStringList{QStringLiteral("app_window_tests")});
    QVERIFY(w.Memo1->toPlainText().isEmpty());  // no send line for a frame not sent
    QVERIFY(!w.session.ReadingOutputs);
    // A relay command switches the mode first: the state changes before the failing send.
    w.Button3->click();
    QCOMPARE(boxes.texts.size(), 2);
    QCOMPARE(w.session.DeviceMode, 0);
    QVERIFY(w.Memo1->toPlainText().isEmpty());
    QVERIFY(!TErrorReport::BoxOpen());
  }

  void aSecondErrorWhileABoxIsOpenIsNotStacked() {
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes(150);
    // While the first box is open, the operator clicks another failing command.
    boxes.whileOpen = [&] { QTimer::singleShot(0, w.Button4, [&] { w.Button4->click(); }); };
    w.BitBtn1->click();
    QCOMPARE(boxes.texts.size(), 1);
    // Once it is closed, the next failure is shown again.
    w.Button4->click();
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
    w.CheckBox2->setChecked(true);
    QTest::qWait(2300);
    QVERIFY(w.Memo1->toPlainText().isEmpty());
    QVERIFY(boxes.texts.isEmpty());
    QVERIFY(w.Timer2->isActive());
  }

  void openFailureShowsTheFailureTextAndNoBox() {
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    OpenPort(w, kMissingDevice);
    QCOMPARE(w.StatusPanels[1]->text(), kMissingDevice + QStringLiteral("打开失败"));
    QVERIFY(!w.XMODEM1.Opened());
    QCOMPARE(w.session.DeviceMode, -1);
    QVERIFY(w.Memo1->toPlainText().isEmpty());
    QVERIFY(boxes.texts.isEmpty());
    QCOMPARE(w.XMODEM1.DeviceName(), kMissingDevice.toStdString());
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
    QCOMPARE(int(w.XMODEM1.BaudRate()), rate);
    QCOMPARE(w.XMODEM1.BaudValue(), value);
  }

  void characterFormatPositionsDecideEachOnTheirOwn() {
    TfrmRTUTest& w = *window_;
    const auto format = [&] {
      return std::make_tuple(w.XMODEM1.DataControl().DataBits(), w.XMODEM1.DataControl().Parity(),
                             w.XMODEM1.DataControl().StopBits());
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
    QCOMPARE(w.StatusPanels[1]->text(), kMissingDevice + QStringLiteral("打开失败"));
  }

  void textTypedIntoTheLogStaysAndLinesFollowIt() {
    TfrmRTUTest& w = *window_;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.Memo1->setFocus();
    QTest::keyClicks(w.Memo1, "note by operator");
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
    const int rows = w.Memo1->visualRowCount(0);
    QVERIFY2(rows >= 3, qPrintable(QString::number(rows)));
    QCOMPARE(w.Memo1->lineCount(), 1);  // still one line of the log
    // A wider window wraps it into fewer rows; the pane never scrolls sideways.
    w.resize(1200, w.height());
    QTRY_VERIFY(w.Memo1->visualRowCount(0) < rows);
  }

  // Typed text reaches the open-port command as typed, however focus leaves the box.
  void typedFormatTextIsNotRewrittenWhenFocusLeaves() {
    TfrmRTUTest& w = *window_;
    w.Edit1->setText(kMissingDevice);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QLineEdit* edit = w.ComboBox6->lineEdit();
    const auto type = [&](const char* text) {
      QTest::mouseClick(edit, Qt::LeftButton);
      edit->selectAll();
      QTest::keyClicks(edit, text);
    };
    type("7e2");
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(w.ComboBox6->currentText(), QStringLiteral("7e2"));
    type("8n1");
    QTest::keyClick(edit, Qt::Key_Tab);
    QVERIFY(!edit->hasFocus());
    QCOMPARE(w.ComboBox6->currentText(), QStringLiteral("8n1"));
    type("7e2");
    QTest::mouseClick(w.Button1, Qt::LeftButton);  // the click itself takes the focus
    QCOMPARE(w.ComboBox6->currentText(), QStringLiteral("7e2"));
    QCOMPARE(w.XMODEM1.DataControl().Parity(), paNone);  // lower-case e: parity as it was
    QCOMPARE(w.XMODEM1.DataControl().DataBits(), db7);
  }

  // Aligned children start once below a group box's caption: at its content rectangle.
  void alignedChildrenFillTheGroupBoxContentRectangle() {
    TfrmRTUTest& w = *window_;
    w.RadioGroup1->setVisible(true);  // hidden children take no room; shown, it has its place
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QRect box1 = w.GroupBox1->contentsRect();
    QVERIFY(box1.top() > 0);  // below the caption
    QCOMPARE(w.Panel4->geometry(), QRect(box1.topLeft(), QSize(box1.width(), 34)));
    QCOMPARE(w.ListView1->geometry(), box1.adjusted(0, 34, 0, 0));
    const QRect box2 = w.GroupBox2->contentsRect();
    QTRY_COMPARE(w.RadioGroup1->geometry(),
                 QRect(box2.left(), box2.bottom() - 115, box2.width(), 116));
    const QPoint readButton = w.BitBtn1->mapTo(&w, w.BitBtn1->rect().center());
    const QPoint autoRead = w.CheckBox2->mapTo(&w, w.CheckBox2->rect().center());
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
