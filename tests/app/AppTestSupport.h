#pragma once
// Helpers for the window's tests: a window per test, the simulated module on a pseudo-terminal,
// the log pane read back line by line, and an observer in place of the error message box.

#include <QString>
#include <QStringList>
#include <QTest>
#include <functional>
#include <memory>

#include "ErrorReport.h"
#include "Simulator.h"
#include "TestSupport.h"
#include "rtutest.h"

// One test binary = one QtTest class run under the tool's own application object, so that
// its notify() guard is in force, on the offscreen platform unless a display is asked for.
#define RTUTEST_QTEST_MAIN(TestClass)                                                            \
  int main(int argc, char** argv) {                                                              \
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen"); \
    TApplication application(argc, argv);                                                        \
    TestClass test;                                                                              \
    return QTest::qExec(&test, argc, argv);                                                      \
  }

// The base of a window test class: every test function gets a fresh window, window_, made
// before it runs and destroyed after it.
class WindowTestCase : public QObject {
  Q_OBJECT

 protected:
  std::unique_ptr<TfrmRTUTest> window_;

 private slots:
  void init() { window_ = std::make_unique<TfrmRTUTest>(); }
  void cleanup() { window_.reset(); }
};

// The window's control, log pane, status-bar label or timer named `name`, found by the object
// name the form gives it ("Button3", "Memo1", "StatusBar1Panel1", "Timer2"), as a Qt UI test
// finds a widget. A name the window does not have ends the test run.
template <class Widget>
Widget* Control(const TfrmRTUTest& window, const QString& name) {
  auto* control = window.findChild<Widget*>(name);
  if (control == nullptr) qFatal("the window has no control named %s", qPrintable(name));
  return control;
}

// The simulated module serving one end of a pseudo-terminal; the window opens Path().
class SimulatedModuleOnPty {
 public:
  explicit SimulatedModuleOnPty(const kestrum_sim::Simulator::Options& options = {});
  ~SimulatedModuleOnPty();
  QString Path() const;
  kestrum_sim::Simulator& Sim() { return sim_; }

 private:
  kestrum_sim::PseudoTerminal pty_;
  kestrum_sim::Simulator sim_;
};

// A path that cannot name a device: opening it fails without touching any real port.
inline const QString kMissingDevice = QStringLiteral("/nonexistent-kestrum-port/ttyX0");

// Types the port settings and clicks "打开串口".
void OpenPort(TfrmRTUTest& window, const QString& path, const QString& baud = "9600",
              const QString& format = "8N1");

// The log pane's lines.
QStringList LogLines(const TfrmRTUTest& window);

// A traffic line without its time stamp (" 发送：..." or " 接收：..."), or an empty text when
// the line does not start with a time stamp of the last `withinSeconds` seconds followed by one
// of the two markers.
QString TrafficPart(const QString& line, int withinSeconds = 30);

// The lines from `first` on, traffic lines without their time stamps.
QStringList LogTail(const TfrmRTUTest& window, int first);

// Processes events until `condition` holds or `timeoutMs` passed; returns the condition.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

// The status list's data cell of `row`.
QString Cell(const TfrmRTUTest& window, int row);

// Replaces the error message box while it exists: records each box's title and text. A box
// "stays open" for `openMs` (events are processed meanwhile, as under a modal box), and
// `whileOpen` runs once inside the first box.
class ErrorBoxRecorder {
 public:
  explicit ErrorBoxRecorder(int openMs = 0);
  ~ErrorBoxRecorder();
  QStringList titles;
  QStringList texts;
  std::function<void()> whileOpen;

 private:
  int openMs_;
};
