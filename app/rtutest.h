#pragma once
// The main window of the KESTRUM RTU test tool: serial settings, the slave address, the I/O
// status list, the relay buttons, the log pane and the status bar. It owns the port component
// XMODEM1 and the two timers: Timer1 (100 ms) is the receive poll, Timer2 (1000 ms) the
// auto-read.
//
// The commands wait as the module expects: the UI thread sleeps, then processes the pending
// events, so the receive poll runs inside the read-all's pumps. The bytes received after a frame
// left, and before the next one did, answer that frame (ReplyReader).

#include <QWidget>
#include <cstdint>
#include <functional>

#include "ByteString.h"
#include "ReplyReader.h"
#include "SyncBridge.h"
#include "XComDrv.h"

class QCheckBox;
class QDateTime;
class QLocale;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QTableWidget;
class QTimer;
class TLogPane;
class TLineWatch;

// What the status list's custom draw may change for a row: the drawing font (with its colour)
// and the background.
struct TListCanvas {
  QFont font;
  QColor fontColor;
  QColor brushColor;
};
enum class TCustomDrawStage { cdPrePaint, cdPostPaint };

class TfrmRTUTest : public QWidget {
 public:
  TfrmRTUTest();
  ~TfrmRTUTest() override;
  TfrmRTUTest(const TfrmRTUTest&) = delete;
  TfrmRTUTest& operator=(const TfrmRTUTest&) = delete;

  // Event handlers.
  void FormCreate(QObject* Sender);
  void Button1Click(QObject* Sender);
  void Button2Click(QObject* Sender);
  void BitBtn1Click(QObject* Sender);
  void Button3Click(QObject* Sender);
  void Button4Click(QObject* Sender);
  void Button5Click(QObject* Sender);
  void Button6Click(QObject* Sender);
  void Button7Click(QObject* Sender);
  void Button8Click(QObject* Sender);
  void Button9Click(QObject* Sender);
  void Button10Click(QObject* Sender);
  void Button11Click(QObject* Sender);
  void Timer1Timer(QObject* Sender);
  void Timer2Timer(QObject* Sender);
  void XMODEM1Data(xcom::TCustomComm* Sender, std::uint32_t Received);
  void ListView1AdvancedCustomDrawItem(QTableWidget* Sender, int Item, bool Selected,
                                       TCustomDrawStage Stage, bool& DefaultDraw,
                                       TListCanvas& Canvas);

  // Sets the "数据" column of status-list row `row` (0..5).
  void ShowChannelValue(int row, const QString& text);
  // Appends one whole line at the end of the log pane.
  void AppendLogLine(const QString& line);
  // Called with every line appended (the log file of --log-file).
  std::function<void(const QString&)> onLogLine;

  // Protocol state.
  std::int32_t SlaveAddress = 100;
  std::int32_t DeviceMode = -1;  // -1 not yet set, 0 control mode, 1 data-centre mode
  bool ReadingOutputs = false;
  // The requests still waiting for a reply, and what each received block means.
  modbus::ReplyReader replyReader;

  // The port component and the controls, named as designed.
  TSyncBridge syncBridge;  // outlives XMODEM1: its deliveries run on this thread
  xcom::TXComm XMODEM1;

  QFrame* Panel1;
  QGroupBox* GroupBox3;
  QLineEdit* Edit1;
  QCheckBox* CheckBox1;
  QComboBox* ComboBox1;
  QPushButton* Button1;
  QComboBox* ComboBox6;
  QGroupBox* GroupBox4;
  QLabel* Label2;
  QLineEdit* edmodaddr;
  QPushButton* Button2;
  QFrame* Panel2;
  QWidget* Splitter1;  // a zero-height bar: it cannot be grabbed
  QStatusBar* StatusBar1;
  QLabel* StatusPanels[2];
  TLogPane* Memo1;
  QFrame* Panel3;
  QGroupBox* GroupBox1;
  QFrame* Panel4;
  QLabel* Label1;
  QPushButton* BitBtn1;
  QCheckBox* CheckBox2;
  QTableWidget* ListView1;
  QGroupBox* GroupBox2;
  QPushButton* Button3;
  QPushButton* Button4;
  QPushButton* Button5;
  QPushButton* Button6;
  QPushButton* Button7;
  QPushButton* Button8;
  QPushButton* Button9;
  QPushButton* Button10;
  QGroupBox* RadioGroup1;
  QLineEdit* Edit2;
  QPushButton* Button11;
  QTimer* Timer1;
  QTimer* Timer2;

  // Status-bar panel 0 and the re-plug of a lost device (LineWatch.h).
  TLineWatch* lineWatch;

 private:
  void CreateControls();
  void CreateSettingsControls();
  void CreateLogAndStatusBar();
  void CreateStatusList();
  void CreateRelayControls();
  void ArrangeControls();
  void SetTabOrderAndNames();
  void CreateTimers();
  void ConfigurePort();
  void BindEvents();
  void RelayCommand(std::uint8_t relayRegister, bool on, bool waitAround);
};

// The single window instance while it exists.
extern TfrmRTUTest* frmRTUTest;

// The send path and the response decoder; they reach the port, the log pane and the status
// list through frmRTUTest.
void SendAndLog(const ByteString& frame);
void SwitchToControlMode();
void SwitchToDataCenterMode();
void ShowDecodedResponse(const modbus::DecodedResponse& decoded);

// "<short date> <long time>" in the system's formats, the head of every traffic line. The long
// time is shown without a time-zone designator, in the locale's order and separators.
QString LogTimeStamp();
QString LogTimeStamp(const QLocale& locale, const QDateTime& at);
// The locale's long time format with its zone designator ('t', with its brackets and blank)
// taken out.
QString LongTimeFormatWithoutZone(const QLocale& locale);

// The UI thread's two ways of waiting: sleep (nothing runs), and process every pending event.
void Sleep(int milliseconds);
void ProcessMessages();
