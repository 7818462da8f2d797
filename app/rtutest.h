#pragma once
// The main window of the KESTRUM RTU test tool: serial settings, the slave address, the I/O
// status list, the relay buttons, the log pane and the status bar. It owns the port component
// XMODEM1 and the two timers: Timer1 (100 ms) is the receive poll, Timer2 (1000 ms) the
// auto-read.
//
// The handlers keep the design's names and forward to the session (RtuSession.h), which holds
// the port's protocol state and the command sequences with their waits; the form shows what
// the session reports.

#include <QWidget>
#include <cstdint>
#include <functional>

#include "LineState.h"
#include "ListDrawDelegate.h"
#include "PortTexts.h"
#include "RtuSession.h"
#include "SessionView.h"
#include "SyncBridge.h"
#include "XComDrv.h"

class QCheckBox;
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

class TfrmRTUTest : public QWidget, public TSessionView {
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
  void ShowChannelValue(int row, const QString& text) override;
  // Appends one whole line at the end of the log pane.
  void AppendLogLine(const QString& line);
  void LogLine(const QString& line) override { AppendLogLine(line); }
  // Called with every line appended (the log file of --log-file).
  std::function<void(const QString&)> onLogLine;
  // Appends every later log line to `path` (--log-file); a file that cannot be written is
  // reported once in the log pane, on standard error and in panel 0's tooltip.
  void KeepLogFile(const QString& path);
  // The port, baud-rate and format texts as they stand.
  TPortTexts PortTexts() const;

  // What start-up and the benchmarks ask of the window, each as the operator would do it: the
  // texts typed into the port, baud-rate and format boxes; the slave address typed and "确定"
  // clicked; "打开串口" and "读取" clicked; "自动读取 " checked or not. A click's error goes to
  // the error report, as a click's does.
  void ApplyPortTexts(const TPortTexts& texts);
  void ApplySlaveAddress(const QString& text);
  void OpenPort();
  void ReadAll();
  void SetAutoRead(bool on);

  // What the window shows and holds, read-only, for code outside it: the log pane, the text of
  // status-bar panel `panel` (0 or 1), the port component with its settings, the session's
  // protocol state and the line's state (panel 0). The controls themselves are found by the
  // object names the form gives them.
  const TLogPane& LogPane() const { return *Memo1; }
  QString StatusText(int panel) const;
  const xcom::TXComm& Port() const { return XMODEM1; }
  const TRtuSession& Session() const { return session; }
  TLineState LineState() const;
  // The data bits, parity and stop bits the next open starts from (a format text may leave
  // some of them as they are).
  xcom::TCommDataControl& PortFormat() { return XMODEM1.DataControl(); }
  // The bytes received and not yet taken by the receive poll.
  std::uint32_t BytesWaiting() { return XMODEM1.QueueCount(0); }

 private:
  // The port component and the controls, named as designed.
  TSyncBridge syncBridge;  // outlives XMODEM1: its deliveries run on this thread
  xcom::TXComm XMODEM1;
  // The port, the protocol state and the commands; the handlers forward to it.
  TRtuSession session;

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
  void ReportOpened(const TPortTexts& texts) override;
  void ReportOpenFailure(const QString& port, const QString& why, const QString& shortWhy) override;
};
