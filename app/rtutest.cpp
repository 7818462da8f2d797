#include "rtutest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <utility>

#include "AlignLayout.h"
#include "Appearance.h"
#include "ErrorReport.h"
#include "LineWatch.h"
#include "LogPane.h"
#include "LogPaneAccessible.h"
#include "LogSaving.h"
#include "OpenFailureHint.h"
#include "OpenedText.h"
#include "PortCompletion.h"
#include "UiWait.h"

using namespace modbus;  // the protocol layer

using namespace xcom;

namespace {

QFrame* NewPanel(QWidget* parent, const char* name) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(1);
  return panel;
}

QGroupBox* NewGroupBox(QWidget* parent, const char* name, const QString& caption) {
  auto* box = new QGroupBox(caption, parent);
  box->setObjectName(QString::fromLatin1(name));
  return box;
}

void SetBackground(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, color);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

// Aligned children of a group box fill its content rectangle: the box itself keeps its caption
// and border out of it (the layout is given contentsRect()), so the layout adds no margin.
TAlignLayout* NewGroupLayout(QGroupBox* box) {
  return new TAlignLayout(box);
}

template <class Widget>
Widget* Place(Widget* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(left, top, width, height);
  return widget;
}

QPushButton* NewButton(QWidget* parent, const char* name, const QString& caption, int left, int top,
                       int width, int height) {
  return Place(new QPushButton(caption, parent), name, left, top, width, height);
}

QComboBox* NewEditableCombo(QWidget* parent, const char* name, const QStringList& items,
                            int selected) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(name));
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);  // typed text is used, never added to the list
  combo->addItems(items);
  combo->setCurrentIndex(selected);
  combo->completer()->setCompletionMode(QCompleter::InlineCompletion);
  // Text is matched against the items case for case: otherwise Qt selects the item that
  // matches without regard to case when focus leaves the box or Enter is pressed, and a typed
  // "7e2" becomes "7E2" before the open-port command reads it.
  combo->completer()->setCaseSensitivity(Qt::CaseSensitive);
  return combo;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Window creation

TfrmRTUTest::TfrmRTUTest() : session(XMODEM1, *this, UiThreadWaits()) {
  InstallLogPaneAccessibility();
  CreateControls();
  lineWatch = new TLineWatch(
      session, *StatusPanels[0], *StatusPanels[1], [this] { return PortTexts(); }, *Timer1, this);
  ConfigurePort();
  BindEvents();
  InstallLogSaving(*this, *Memo1);
  // The ports present, then the serial device servers opened in this run (never a scan).
  InstallPortCompletion(Edit1, [] {
    std::vector<xcom::SerialPortInfo> ports = xcom::ListSerialPorts();
    for (xcom::SerialPortInfo& server : xcom::RecentNetworkPorts())
      ports.push_back(std::move(server));
    return ports;
  });
  FormCreate(this);
}

TfrmRTUTest::~TfrmRTUTest() {
  // The timers stop with the window; XMODEM1 (a member) closes an open port on its way out.
  Timer1->stop();
  Timer2->stop();
}

void TfrmRTUTest::CreateControls() {
  setObjectName(QStringLiteral("frmRTUTest"));
  setWindowTitle(QStringLiteral("KESTRUM RTU串口测试 V1.2"));
  setFont(WindowFont());
  resize(635, 628);  // client area; the frame around it is the window manager's
  move(361, 115);

  CreateSettingsControls();
  CreateLogAndStatusBar();
  CreateStatusList();
  CreateRelayControls();
  ArrangeControls();
  SetTabOrderAndNames();
  CreateTimers();
}

// Serial settings and Modbus settings along the top.
void TfrmRTUTest::CreateSettingsControls() {
  Panel1 = NewPanel(this, "Panel1");
  auto* panel1Layout = new TAlignLayout(Panel1);
  GroupBox3 = NewGroupBox(Panel1, "GroupBox3", QStringLiteral("串口设置"));
  GroupBox3->setFont(SerialSettingsFont());
  SetBackground(GroupBox3, kSerialSettingsColor);
  Edit1 = Place(new QLineEdit(QStringLiteral("COM1"), GroupBox3), "Edit1", 9, 25, 62, 24);
  CheckBox1 =
      Place(new QCheckBox(QStringLiteral("显示数据"), GroupBox3), "CheckBox1", 323, 29, 105, 17);
  CheckBox1->setChecked(true);
  CheckBox1->setVisible(false);  // never shown, never read
  ComboBox1 = NewEditableCombo(GroupBox3, "ComboBox1",
                               {"300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                                "28800", "38400", "57600", "115200", "230400", "460800", "921600"},
                               5);
  ComboBox1->setGeometry(158, 25, 78, 24);
  Button1 = NewButton(GroupBox3, "Button1", QStringLiteral("打开串口"), 77, 25, 75, 25);
  Button1->setFont(OpenButtonFont());
  ComboBox6 = NewEditableCombo(
      GroupBox3, "ComboBox6",
      {"8N1", "8E1", "8O1", "7N1", "7E1", "7O1", "8N2", "8E2", "8O2", "7N2", "7E2", "7O2"}, 0);
  ComboBox6->setGeometry(254, 25, 59, 24);

  GroupBox4 = NewGroupBox(Panel1, "GroupBox4", QStringLiteral("MODBUS设置"));
  Label2 = Place(new QLabel(QStringLiteral("子站地址 "), GroupBox4), "Label2", 16, 26, 56, 19);
  edmodaddr = Place(new QLineEdit(QStringLiteral("100"), GroupBox4), "edmodaddr", 80, 24, 41, 27);
  Button2 = NewButton(GroupBox4, "Button2", QStringLiteral("确定"), 136, 24, 60, 25);
  panel1Layout->addAligned(GroupBox3, TAlign::alLeft, 424);
  panel1Layout->addAligned(GroupBox4, TAlign::alClient);
}

// Below them: the status list and relay buttons (Panel3), the log pane, the status bar.
void TfrmRTUTest::CreateLogAndStatusBar() {
  Panel2 = NewPanel(this, "Panel2");
  Splitter1 = new QWidget(Panel2);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setCursor(Qt::SizeVerCursor);
  StatusBar1 = new QStatusBar(Panel2);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  const int panelWidths[2] = {100, 200};
  for (int i = 0; i < 2; ++i) {
    StatusPanels[i] = new QLabel(StatusBar1);
    StatusPanels[i]->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
    StatusPanels[i]->setFixedWidth(panelWidths[i]);
    StatusPanels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // Panel 1 shows the device name as typed: never as markup (a name like "<img src=...>"
    // would otherwise be rendered, and its picture loaded from disk).
    StatusPanels[i]->setTextFormat(Qt::PlainText);
    StatusBar1->addWidget(StatusPanels[i]);
  }
  // The log keeps growing for the life of the window: the pane stores its lines compactly and
  // lays out only those on screen. It wraps at its width, keeps no undo history, and Tab moves
  // on to the next control.
  Memo1 = new TLogPane(Panel2);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void TfrmRTUTest::CreateStatusList() {
  Panel3 = NewPanel(Panel2, "Panel3");
  GroupBox1 = NewGroupBox(Panel3, "GroupBox1", QStringLiteral("RTU IO状态"));
  SetBackground(GroupBox1, kSkyBlue);
  auto* groupBox1Layout = NewGroupLayout(GroupBox1);
  Panel4 = NewPanel(GroupBox1, "Panel4");
  SetBackground(Panel4, kGradientInactiveCaption);
  Label1 = Place(new QLabel(QStringLiteral("读取所有通道状态        "), Panel4), "Label1", 8, 8,
                 136, 19);
  BitBtn1 = NewButton(Panel4, "BitBtn1", QStringLiteral("读取"), 217, 6, 64, 25);
  BitBtn1->setIcon(TableGlyph());
  BitBtn1->setIconSize(QSize(16, 16));
  CheckBox2 =
      Place(new QCheckBox(QStringLiteral("自动读取 "), Panel4), "CheckBox2", 128, 10, 73, 17);
  ListView1 = new QTableWidget(0, 3, GroupBox1);
  ListView1->setObjectName(QStringLiteral("ListView1"));
  ListView1->setHorizontalHeaderLabels(
      {QStringLiteral("IO名称"), QStringLiteral("数据"), QStringLiteral("说明")});
  ListView1->horizontalHeader()->setMinimumSectionSize(0);
  ListView1->horizontalHeader()->setHighlightSections(false);
  ListView1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  ListView1->setColumnWidth(0, 100);
  ListView1->setColumnWidth(1, 180);
  ListView1->setColumnWidth(2, 0);
  ListView1->verticalHeader()->setVisible(false);
  ListView1->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 4);
  ListView1->setShowGrid(true);
  ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView1->setWordWrap(false);
  ListView1->setTabKeyNavigation(false);  // Tab leaves the list instead of walking its cells
  ListView1->setItemDelegate(new TListDrawDelegate(
      ListView1, [this](QTableWidget* list, int row, bool selected, TCustomDrawStage stage,
                        bool& defaultDraw, TListCanvas& canvas) {
        ListView1AdvancedCustomDrawItem(list, row, selected, stage, defaultDraw, canvas);
      }));
  {
    QPalette palette = ListView1->palette();
    palette.setColor(QPalette::Base, Qt::white);
    ListView1->setPalette(palette);
  }
  groupBox1Layout->addAligned(Panel4, TAlign::alTop, 34);
  groupBox1Layout->addAligned(ListView1, TAlign::alClient);
}

void TfrmRTUTest::CreateRelayControls() {
  GroupBox2 = NewGroupBox(Panel3, "GroupBox2", QStringLiteral("RTU DO控制"));
  SetBackground(GroupBox2, kSkyBlue);
  auto* groupBox2Layout = NewGroupLayout(GroupBox2);
  Button3 = NewButton(GroupBox2, "Button3", QStringLiteral("继电器1开"), 56, 56, 75, 25);
  Button4 = NewButton(GroupBox2, "Button4", QStringLiteral("继电器1关"), 176, 56, 75, 25);
  Button5 = NewButton(GroupBox2, "Button5", QStringLiteral("继电器2开"), 56, 125, 75, 25);
  Button6 = NewButton(GroupBox2, "Button6", QStringLiteral("继电器2关"), 176, 125, 75, 25);
  Button7 = NewButton(GroupBox2, "Button7", QStringLiteral("继电器3开"), 56, 194, 75, 25);
  Button8 = NewButton(GroupBox2, "Button8", QStringLiteral("继电器3关"), 176, 194, 75, 25);
  Button9 = NewButton(GroupBox2, "Button9", QStringLiteral("继电器4开"), 56, 264, 75, 25);
  Button10 = NewButton(GroupBox2, "Button10", QStringLiteral("继电器4关"), 176, 264, 75, 25);
  RadioGroup1 = NewGroupBox(GroupBox2, "RadioGroup1", QStringLiteral("向数据中心发送"));
  Edit2 = Place(new QLineEdit(GroupBox2), "Edit2", 32, 368, 265, 27);
  Button11 = NewButton(GroupBox2, "Button11", QStringLiteral("发送"), 224, 408, 75, 25);
  groupBox2Layout->addAligned(RadioGroup1, TAlign::alBottom, 116);
  // The relay 3 and 4 buttons and the data-centre send are never shown.
  for (QWidget* hidden : {static_cast<QWidget*>(Button7), static_cast<QWidget*>(Button8),
                          static_cast<QWidget*>(Button9), static_cast<QWidget*>(Button10),
                          static_cast<QWidget*>(RadioGroup1), static_cast<QWidget*>(Edit2),
                          static_cast<QWidget*>(Button11)})
    hidden->setVisible(false);
}

// The panels' docking, as designed: each control takes its edge or the rest of its parent.
void TfrmRTUTest::ArrangeControls() {
  auto* panel3Layout = new TAlignLayout(Panel3);
  panel3Layout->addAligned(GroupBox1, TAlign::alLeft, 297);
  panel3Layout->addAligned(GroupBox2, TAlign::alClient);
  auto* panel2Layout = new TAlignLayout(Panel2);
  panel2Layout->addAligned(Panel3, TAlign::alTop, 440);
  panel2Layout->addAligned(Splitter1, TAlign::alTop, 0);
  panel2Layout->addAligned(StatusBar1, TAlign::alBottom, 19);
  panel2Layout->addAligned(Memo1, TAlign::alClient);

  auto* formLayout = new TAlignLayout(this);
  formLayout->addAligned(Panel1, TAlign::alTop, 65);
  formLayout->addAligned(Panel2, TAlign::alClient);
  formLayout->setGeometry(rect());
}

void TfrmRTUTest::SetTabOrderAndNames() {
  // Keyboard focus order, parent by parent; hidden controls are skipped by Qt.
  QWidget* tabOrder[] = {Edit1,   CheckBox1, ComboBox1, Button1,  ComboBox6, edmodaddr, Button2,
                         BitBtn1, CheckBox2, ListView1, Button3,  Button4,   Button5,   Button6,
                         Button7, Button8,   Button9,   Button10, Edit2,     Button11,  Memo1};
  for (std::size_t i = 1; i < std::size(tabOrder); ++i)
    QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
  for (QWidget* passive : {static_cast<QWidget*>(StatusBar1), static_cast<QWidget*>(Splitter1)})
    passive->setFocusPolicy(Qt::NoFocus);

  // What assistive technology reads for each control.
  Edit1->setAccessibleName(QStringLiteral("串口名称"));
  ComboBox1->setAccessibleName(QStringLiteral("波特率"));
  ComboBox6->setAccessibleName(QStringLiteral("参数"));
  Button1->setAccessibleName(QStringLiteral("打开串口"));
  edmodaddr->setAccessibleName(QStringLiteral("子站地址"));
  Button2->setAccessibleName(QStringLiteral("确定子站地址"));
  BitBtn1->setAccessibleName(QStringLiteral("读取所有通道状态"));
  CheckBox2->setAccessibleName(QStringLiteral("自动读取"));
  ListView1->setAccessibleName(QStringLiteral("RTU IO状态"));
  Button3->setAccessibleName(QStringLiteral("继电器1开"));
  Button4->setAccessibleName(QStringLiteral("继电器1关"));
  Button5->setAccessibleName(QStringLiteral("继电器2开"));
  Button6->setAccessibleName(QStringLiteral("继电器2关"));
  Memo1->setAccessibleName(QStringLiteral("收发记录"));
  StatusBar1->setAccessibleName(QStringLiteral("状态栏"));
}

void TfrmRTUTest::CreateTimers() {
  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(100);
  Timer2 = new QTimer(this);
  Timer2->setObjectName(QStringLiteral("Timer2"));
  Timer2->setInterval(1000);
  for (QTimer* timer : {Timer1, Timer2}) {
    // Never early: the auto-read's spacing is a lower bound the module relies on.
    timer->setTimerType(Qt::PreciseTimer);
    timer->start();
  }
}

void TfrmRTUTest::ConfigurePort() {
  XMODEM1.SetDeviceName("COM1");
  XMODEM1.SetBaudRate(br9600);
  XMODEM1.SetBaudValue(9600);
  XMODEM1.DataControl().SetDataBits(db8);
  XMODEM1.DataControl().SetParity(paNone);
  XMODEM1.DataControl().SetStopBits(sb1);
  XMODEM1.SetFlowControl(fcNone);
  XMODEM1.SetRTSSettings({});
  XMODEM1.SetDTRSettings({});
  XMODEM1.SetXOnXOffSettings({});
  XMODEM1.SetOptions({});
  XMODEM1.Buffers().SetInputSize(2048);
  XMODEM1.Buffers().SetOutputSize(2048);
  XMODEM1.Buffers().SetInputTimeout(5000);
  XMODEM1.Buffers().SetOutputTimeout(5000);
  XMODEM1.Timeouts().SetReadInterval(100);
  XMODEM1.Timeouts().SetReadMultiplier(10);
  XMODEM1.Timeouts().SetReadConstant(200);
  XMODEM1.Timeouts().SetWriteMultiplier(10);
  XMODEM1.Timeouts().SetWriteConstant(200);
  XMODEM1.EventChars().SetXonChar(0x11);
  XMODEM1.EventChars().SetXoffChar(0x13);
  XMODEM1.EventChars().SetEofChar(0x00);
  XMODEM1.EventChars().SetErrorChar(0x00);
  XMODEM1.EventChars().SetEventChar(0x0A);
  XMODEM1.SetMonitorEvents({deChar, deFlag, deOutEmpty});
  XMODEM1.SetSynchronize(true);
  XMODEM1.SetOnData(
      [this](TCustomComm* Sender, std::uint32_t Received) { XMODEM1Data(Sender, Received); });
}

void TfrmRTUTest::BindEvents() {
  const auto bindClick = [this](QPushButton* button, void (TfrmRTUTest::*handler)(QObject*)) {
    connect(button, &QPushButton::clicked, this,
            [this, button, handler] { Guarded([&] { (this->*handler)(button); }); });
  };
  bindClick(Button1, &TfrmRTUTest::Button1Click);
  bindClick(Button2, &TfrmRTUTest::Button2Click);
  bindClick(BitBtn1, &TfrmRTUTest::BitBtn1Click);
  bindClick(Button3, &TfrmRTUTest::Button3Click);
  bindClick(Button4, &TfrmRTUTest::Button4Click);
  bindClick(Button5, &TfrmRTUTest::Button5Click);
  bindClick(Button6, &TfrmRTUTest::Button6Click);
  bindClick(Button7, &TfrmRTUTest::Button7Click);
  bindClick(Button8, &TfrmRTUTest::Button8Click);
  bindClick(Button9, &TfrmRTUTest::Button9Click);
  bindClick(Button10, &TfrmRTUTest::Button10Click);
  bindClick(Button11, &TfrmRTUTest::Button11Click);
  connect(Timer1, &QTimer::timeout, this, [this] { Guarded([&] { Timer1Timer(Timer1); }); });
  connect(Timer2, &QTimer::timeout, this, [this] { Guarded([&] { Timer2Timer(Timer2); }); });
}

void TfrmRTUTest::FormCreate(QObject*) {
  session.DeviceMode = -1;
  session.SlaveAddress = 100;
  // The six status-list rows: a header row, DI0, DI1, a header row, DO0, DO1.
  const auto addRow = [this](const QString& name, int subItems) {
    const int row = ListView1->rowCount();
    ListView1->insertRow(row);
    ListView1->setItem(row, 0, new QTableWidgetItem(name));
    for (int i = 0; i < subItems && i < 2; ++i)  // further sub-items have no column
      ListView1->setItem(row, 1 + i, new QTableWidgetItem(QString()));
    return row;
  };
  ListView1->item(addRow(QString(), 3), 1)->setText(QStringLiteral("DIN通道状态"));
  for (int n = 0; n < 2; ++n) addRow(QStringLiteral("DI%1").arg(n), 1);
  ListView1->item(addRow(QString(), 2), 1)->setText(QStringLiteral("DO通道状态"));
  for (int n = 0; n < 2; ++n) addRow(QStringLiteral("DO%1").arg(n), 1);
  // Rows are only displayed: no cell can be edited or dragged.
  for (int row = 0; row < ListView1->rowCount(); ++row)
    for (int column = 0; column < ListView1->columnCount(); ++column)
      if (QTableWidgetItem* item = ListView1->item(row, column))
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
}

// ---------------------------------------------------------------------------------------------
// Log pane and status list

void TfrmRTUTest::AppendLogLine(const QString& line) {
  Memo1->AppendLine(line);
  if (onLogLine) onLogLine(line);
}

void TfrmRTUTest::KeepLogFile(const QString& path) {
  // Told where the operator looks: in the log pane (not into the file that failed), and kept
  // in panel 0's tooltip.
  const auto tell = [this](const QString& sentence) {
    Memo1->AppendLine(sentence);
    lineWatch->AddStandingNote(sentence);
  };
  if (auto append = LogFileAppender(path, tell)) onLogLine = std::move(append);
}

TPortTexts TfrmRTUTest::PortTexts() const {
  return {Edit1->text(), ComboBox1->currentText(), ComboBox6->currentText()};
}

void TfrmRTUTest::ApplyPortTexts(const TPortTexts& texts) {
  Edit1->setText(texts.port);
  ComboBox1->setEditText(texts.baud);
  ComboBox6->setEditText(texts.format);
}

// The calls go through the buttons, so that they run exactly as the operator's clicks do.
void TfrmRTUTest::ApplySlaveAddress(const QString& text) {
  edmodaddr->setText(text);
  Button2->click();
}

void TfrmRTUTest::OpenPort() {
  Button1->click();
}

void TfrmRTUTest::ReadAll() {
  BitBtn1->click();
}

void TfrmRTUTest::SetAutoRead(bool on) {
  CheckBox2->setChecked(on);
}

QString TfrmRTUTest::StatusText(int panel) const {
  return StatusPanels[panel]->text();
}

TLineState TfrmRTUTest::LineState() const {
  return lineWatch->State();
}

void TfrmRTUTest::ShowChannelValue(int row, const QString& text) {
  if (row < 0 || row >= ListView1->rowCount()) return;
  if (QTableWidgetItem* cell = ListView1->item(row, 1)) cell->setText(text);
}

void TfrmRTUTest::ListView1AdvancedCustomDrawItem(QTableWidget* Sender, int Item, bool,
                                                  TCustomDrawStage, bool&, TListCanvas& Canvas) {
  const QTableWidgetItem* name = Sender->item(Item, 0);
  if (name != nullptr && !name->text().isEmpty()) return;
  Canvas.fontColor = QColor(255, 255, 255);
  Canvas.font.setBold(true);
  Canvas.brushColor = kHeaderRowColor;
}

// ---------------------------------------------------------------------------------------------
// The open-port command's outcome: panel 1 keeps its short text, its tooltip tells why an open
// failed; panel 0 is the line watch's.

void TfrmRTUTest::ReportOpened(const TPortTexts& texts) {
  StatusPanels[1]->setText(OpenedText(texts, session.Port().SettingsReport()));
  lineWatch->OpenSucceeded();  // panel 1's tooltip: what the device runs at
}

void TfrmRTUTest::ReportOpenFailure(const QString& port, const QString& why,
                                    const QString& shortWhy) {
  StatusPanels[1]->setText(port + QStringLiteral("打开失败"));
  StatusPanels[1]->setToolTip(HintAsToolTip(why));
  lineWatch->OpenFailed(shortWhy, why);
}

// ---------------------------------------------------------------------------------------------
// Commands: the session does the work

void TfrmRTUTest::Button1Click(QObject*) {
  session.OpenPort(PortTexts());
}

void TfrmRTUTest::Button2Click(QObject*) {
  session.SetSlaveAddress(edmodaddr->text());
}

void TfrmRTUTest::BitBtn1Click(QObject*) {
  session.ReadAll();
}

void TfrmRTUTest::Button3Click(QObject*) {
  session.SwitchRelay(kRelay1Register, true, true);
}
void TfrmRTUTest::Button4Click(QObject*) {
  session.SwitchRelay(kRelay1Register, false, true);
}
void TfrmRTUTest::Button5Click(QObject*) {
  session.SwitchRelay(kRelay2Register, true, true);
}
void TfrmRTUTest::Button6Click(QObject*) {
  session.SwitchRelay(kRelay2Register, false, true);
}
void TfrmRTUTest::Button7Click(QObject*) {
  session.SwitchRelay(kRelay3Register, true, false);
}
void TfrmRTUTest::Button8Click(QObject*) {
  session.SwitchRelay(kRelay3Register, false, false);
}
void TfrmRTUTest::Button9Click(QObject*) {
  session.SwitchRelay(kRelay4Register, true, false);
}
void TfrmRTUTest::Button10Click(QObject*) {
  session.SwitchRelay(kRelay4Register, false, false);
}

void TfrmRTUTest::Button11Click(QObject*) {
  session.SendFreeText(Edit2->text());
}

// ---------------------------------------------------------------------------------------------
// Receive poll, auto-read, data event

void TfrmRTUTest::Timer1Timer(QObject*) {
  session.Poll();
}

void TfrmRTUTest::Timer2Timer(QObject* Sender) {
  if (!XMODEM1.Opened()) return;
  Timer2->stop();
  // Started again however the read-all ends, so a failed read-all does not end the auto-read.
  struct TRestart {
    QTimer* timer;
    ~TRestart() { timer->start(); }
  } restart{Timer2};
  if (CheckBox2->isChecked()) BitBtn1Click(Sender);
}

void TfrmRTUTest::XMODEM1Data(TCustomComm*, std::uint32_t) {
  // Received bytes stay queued for the receive poll.
}
