// What the operator meets around the designed window: the command line's start options, the
// line's state in status-bar panel 0, a re-plugged device, the saved log and the log file.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <optional>
#include <thread>

#include "AppTestSupport.h"
#include "DeviceNode.h"
#include "LineWatch.h"
#include "LinkClaim.h"
#include "LogFile.h"
#include "LogPane.h"
#include "LogSaving.h"
#include "LossScenario.h"
#include "PortCompletion.h"
#include "SerialPortScan.h"
#include "StartOptions.h"
#include "UiWait.h"

namespace {

// The kestrum-sim program on a pseudo-terminal behind a fixed link, killed without a say.
std::unique_ptr<ProcessModule> LinkedModule(const QString& link,
                                            std::array<std::uint16_t, 2> inputs) {
  return std::make_unique<ProcessModule>(QStringLiteral(KESTRUM_SIM_PROGRAM), inputs, true, link);
}

QStringList Channels(const TfrmRTUTest& window) {
  return {Cell(window, 1), Cell(window, 2)};
}

QString Panel(const TfrmRTUTest& window, int panel) {
  return window.StatusText(panel);
}

// Leaves `link` leading to `pty` after a hundred log files opened while it flips between a
// regular file and `pty`: not one of them may write to the terminal.
void FlipWhileOpening(const QString& link, const QString& file, const QString& pty) {
  const QByteArray next = (link + ".next").toLocal8Bit(), to = link.toLocal8Bit();
  const auto pointTo = [&](const QString& target) {
    if (::symlink(target.toLocal8Bit().constData(), next.constData()) == 0)
      ::rename(next.constData(), to.constData());
  };
  std::atomic<bool> stop = false;
  std::thread flipper([&] {
    for (int i = 0; !stop; ++i) pointTo(i % 2 ? file : pty);
  });
  for (int i = 0; i < 100; ++i) TLogFile(link, {}).Append(QStringLiteral("x"));
  stop = true;
  flipper.join();
  pointTo(pty);
}

// A widget that counts its repaints.
class PaintCounter : public QWidget {
 public:
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent*) override { ++paints; }
};

}  // namespace

class OperatorTest : public QObject {
  Q_OBJECT

 private slots:
  void startOptionsFillTheBoxesAndOpenOnceShown() {
    SimulatedModuleOnPty module;
    TfrmRTUTest window;
    TProgramOptions options;
    options.port = module.Path().toStdString();
    options.baud = "19200";
    options.format = "8E1";
    options.address = "0x20";
    options.open = true;
    ApplyStartOptions(window, options);
    QCOMPARE(Control<QLineEdit>(window, "Edit1")->text(), module.Path());
    QCOMPARE(Control<QComboBox>(window, "ComboBox1")->currentText(), QStringLiteral("19200"));
    QCOMPARE(Control<QComboBox>(window, "ComboBox6")->currentText(), QStringLiteral("8E1"));
    QCOMPARE(Control<QLineEdit>(window, "edmodaddr")->text(), QStringLiteral("0x20"));
    QCOMPARE(window.Session().SlaveAddress, 32);  // applied, as "确定" would
    QVERIFY(window.StatusText(1).isEmpty());      // not opened before it is shown
    window.show();
    ScheduleStartActions(window, options);
    QVERIFY(WaitUntil([&] { return !window.StatusText(1).isEmpty(); }, 3000));
    QCOMPARE(window.StatusText(1),
             module.Path() + QStringLiteral("打开成功,BaudRate=19200,参数=8E1"));
  }

  // Panel 0: the line's state in a few characters, the reason of a failed open with its
  // sentence in the tooltip; panel 1 keeps its texts and tells the read-back settings.
  void panelZeroShowsTheLineStateAndWhyAnOpenFailed() {
    TfrmRTUTest window;
    OpenPort(window, kMissingDevice);
    QCOMPARE(Panel(window, 0), QStringLiteral("没有这个设备"));
    QVERIFY(Control<QLabel>(window, "StatusBar1Panel0")
                ->toolTip()
                .contains(QStringLiteral("找不到串口")));
    QCOMPARE(Panel(window, 1), kMissingDevice + QStringLiteral("打开失败"));
    SimulatedModuleOnPty module;
    OpenPort(window, module.Path(), QStringLiteral("19200"), QStringLiteral("7E2"));
    QCOMPARE(Panel(window, 0), QStringLiteral("已打开"));
    QVERIFY(Control<QLabel>(window, "StatusBar1Panel0")->toolTip().isEmpty());
    QCOMPARE(Panel(window, 1), module.Path() + QStringLiteral("打开成功,BaudRate=19200,参数=7E2"));
    QVERIFY2(Control<QLabel>(window, "StatusBar1Panel1")
                 ->toolTip()
                 .contains(QStringLiteral("19200 波特，7E2")),
             qPrintable(Control<QLabel>(window, "StatusBar1Panel1")->toolTip()));
  }

  // The module's line hangs up, during auto-read or on an idle line: within a second panel 0
  // says so, with no error box, and the lost device is let go. Its bare pseudo-terminal number,
  // taken by another program, is not the module back: it stays "lost" and that line gets nothing.
  void aLostLineIsShownWithoutABoxAndLetGo_data() {
    QTest::addColumn<bool>("autoRead");
    QTest::newRow("auto-read on") << true;
    QTest::newRow("idle line") << false;
  }

  void aLostLineIsShownWithoutABoxAndLetGo() {
    QFETCH(bool, autoRead);
    TfrmRTUTest window;
    ErrorBoxRecorder boxes;
    InProcessModule module({1, 0});
    OpenPort(window, module.Path());
    Control<QCheckBox>(window, "CheckBox2")->setChecked(autoRead);
    if (autoRead)
      QVERIFY(WaitUntil([&] { return Channels(window) == QStringList{"01 ", "00 "}; }, 5000));
    else
      QTest::qWait(300);
    QElapsedTimer clock;
    module.Pull();
    clock.start();
    QVERIFY(WaitUntil([&] { return window.LineState() == TLineState::Lost; }, 3000));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(Panel(window, 0), QStringLiteral("设备已断开"));
    QVERIFY(WaitUntil([&] { return !window.Port().Opened(); }, 2000));
    QVERIFY(Control<QLabel>(window, "StatusBar1Panel0")
                ->toolTip()
                .contains(QStringLiteral("不会自动重新打开")));
    std::vector<std::unique_ptr<ptytest::PtyPair>> taken;  // the lowest free number comes first
    while (taken.size() < 64 &&
           (taken.empty() || taken.back()->SlavePath() != module.Path().toStdString()))
      taken.push_back(std::make_unique<ptytest::PtyPair>());
    QTest::qWait(2500);
    QCOMPARE(Panel(window, 0), QStringLiteral("设备已断开"));
    QVERIFY(!window.Port().Opened());
    if (taken.back()->SlavePath() == module.Path().toStdString())
      QCOMPARE(taken.back()->DrainMaster().size(), std::size_t{0});
    QVERIFY2(boxes.texts.isEmpty(), qPrintable(boxes.texts.join(QLatin1Char('|'))));
  }

  // The simulator is killed during auto-read and a new one starts on the same link: the window
  // reopens it as a click would (mode frame, panel 1) and the reads go on, without a click.
  void aDeviceBackUnderTheSameNameIsReopened() {
    QTemporaryDir folder;
    const QString link = folder.filePath(QStringLiteral("module"));
    TfrmRTUTest window;
    ErrorBoxRecorder boxes;
    auto module = LinkedModule(link, {1, 0});
    QVERIFY2(module->StartError().isEmpty(), qPrintable(module->StartError()));
    OpenPort(window, link);
    Control<QCheckBox>(window, "CheckBox2")->setChecked(true);
    QVERIFY(WaitUntil([&] { return Channels(window) == QStringList{"01 ", "00 "}; }, 5000));
    const ReplugTimes times =
        RunReplug(window, module, QStringLiteral(KESTRUM_SIM_PROGRAM), link, {0, 1});
    QVERIFY2(times.failure.isEmpty(), qPrintable(times.failure));
    qInfo("reopened %lld ms, first decoded reply %lld ms after the device returned",
          times.reopenedMs, times.firstDecodedMs);
    QVERIFY(times.reopenedMs >= 0 && times.reopenedMs < 2500);
    QVERIFY(times.firstDecodedMs >= 0);
    QCOMPARE(Panel(window, 0), QStringLiteral("已重新打开"));
    QCOMPARE(Panel(window, 1), link + QStringLiteral("打开成功,BaudRate=9600,参数=8N1"));
    QVERIFY(LogTail(window, int(times.linesBeforeReturn))
                .contains(QStringLiteral(" 发送：AA 55 00 05 E0 50 00 01 35 ")));
    QVERIFY2(boxes.texts.isEmpty(), qPrintable(boxes.texts.join(QLatin1Char('|'))));
  }

  // The saved log and the log file hold the pane's lines as UTF-8, one per line; the log file
  // has each line as soon as it is shown. An unwritable log file is reported once.
  void theLogIsSavedAndKeptLineByLine() {
    QTemporaryDir folder;
    TfrmRTUTest window;
    const QString kept = folder.filePath(QStringLiteral("kept.log"));
    window.KeepLogFile(kept);
    window.AppendLogLine(QStringLiteral("第一行 DI1=01"));
    QFile reader(kept);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    QCOMPARE(reader.readAll(), QStringLiteral("第一行 DI1=01\n").toUtf8());  // flushed at once
    window.AppendLogLine(QStringLiteral("second"));
    QCOMPARE(reader.readAll(), QByteArray("second\n"));

    const QString saved = folder.filePath(QStringLiteral("saved.log"));
    QVERIFY(SaveLogText(window, window.LogPane().toPlainText().split(QLatin1Char('\n')), saved));
    QFile savedFile(saved);
    QVERIFY(savedFile.open(QIODevice::ReadOnly));
    QCOMPARE(savedFile.readAll(), QStringLiteral("第一行 DI1=01\nsecond\n").toUtf8());
    QVERIFY(QFileInfo(DefaultSavedLogPath())
                .fileName()
                .contains(QRegularExpression(QStringLiteral("^rtutest-\\d{8}-\\d{6}\\.log$"))));

    int reports = 0;
    TLogFile broken(folder.filePath(QStringLiteral("no-such-folder/x.log")),
                    [&](const QString&) { ++reports; });
    broken.Append(QStringLiteral("a"));
    broken.Append(QStringLiteral("b"));
    QCOMPARE(reports, 1);
    // A full disk (the file size limit stands in for it) cuts off no line, says so once, and
    // the held lines follow in order once there is room.
    const QString fullPath = folder.filePath(QStringLiteral("full.log"));
    TLogFile full(fullPath, [&](const QString& why) { reports += why.contains("磁盘已满"); });
    full.Append(QStringLiteral("0123456789"));
    rlimit limit{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit room{16, limit.rlim_max};
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &room), 0);
    full.Append(QStringLiteral("abcdefghij"));
    full.Append(QStringLiteral("klm"));
    const QByteArray whileFull = QFileInfo(fullPath).size() == 11 ? "whole" : "cut";
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    QCOMPARE(whileFull, QByteArray("whole"));
    QCOMPARE(reports, 2);
    full.Append(QStringLiteral("n"));
    QFile fullFile(fullPath);
    QVERIFY(fullFile.open(QIODevice::ReadOnly));
    QCOMPARE(fullFile.readAll(), QByteArray("0123456789\nabcdefghij\nklm\nn\n"));
    window.KeepLogFile(folder.filePath(QStringLiteral("no-such-folder/y.log")));
    window.AppendLogLine(QStringLiteral("the window goes on"));
    QVERIFY(Control<QLabel>(window, "StatusBar1Panel0")
                ->toolTip()
                .contains(QStringLiteral("无法写入日志文件")));
    OpenPort(window, kMissingDevice);  // the report outlasts a change of the line's state
    QVERIFY(Control<QLabel>(window, "StatusBar1Panel0")
                ->toolTip()
                .contains(QStringLiteral("无法写入日志文件")));
    QVERIFY(Control<QLabel>(window, "StatusBar1Panel0")
                ->toolTip()
                .contains(QStringLiteral("找不到串口")));
    QCOMPARE(window.LogPane().lineText(window.LogPane().lineCount() - 1),
             QStringLiteral("the window goes on"));
  }

  // The link leads to a new device before the old one is seen lost (a faster re-plug than the
  // watch looks): the name never went away, yet what it leads to is new, so it is reopened.
  void aLinkAlreadyLeadingToANewDeviceIsReopened() {
    QTemporaryDir folder;
    const QString link = folder.filePath(QStringLiteral("module")),
                  next = folder.filePath(QStringLiteral("next"));
    TfrmRTUTest window;
    InProcessModule first({1, 0});
    const testsupport::LinkClaim claim(xcom::LinkClaimName(link.toStdString()));
    QVERIFY(QFile::link(first.Path(), link));
    OpenPort(window, link);
    InProcessModule second({0, 1});
    QVERIFY(QFile::link(second.Path(), next));
    QCOMPARE(::rename(next.toLocal8Bit().constData(), link.toLocal8Bit().constData()), 0);
    first.Pull();
    QVERIFY(WaitUntil([&] { return window.LineState() == TLineState::Reopened; }, 3000));
  }

  // A log file never holds the window up nor ends it: a FIFO nobody reads or whose reader
  // leaves, a file deleted while written, are reported once, in the pane too, and dropped;
  // terminals (the module's own line, also behind a name that flips to it during the open),
  // other devices and the kernel's settings are refused; the save replaces none of them.
  void aLogFileThatCannotTakeLinesIsReportedAndTheWindowGoesOn_data() {
    QTest::addColumn<QString>("path");      // "fifo", "pty", "flip", "deleted" are made here
    QTest::addColumn<bool>("reader");       // the FIFO is read until the first line came
    QTest::addColumn<QString>("reported");  // empty: the lines are taken
    QTest::newRow("fifo without reader") << "fifo" << false << QStringLiteral("读取端已关闭");
    QTest::newRow("fifo whose reader leaves") << "fifo" << true << QStringLiteral("读取端已关闭");
    QTest::newRow("the module's line") << "pty" << false << QStringLiteral("不是普通文件");
    QTest::newRow("a name flipping to it") << "flip" << false << QStringLiteral("不是普通文件");
    QTest::newRow("pty master") << "/dev/ptmx" << false << QStringLiteral("不是普通文件");
    QTest::newRow("standard output") << "/dev/stdout" << false << QString();
    QTest::newRow("process name") << "/proc/self/comm" << false << QStringLiteral("内核");
    QTest::newRow("kernel attribute")
        << "/sys/devices/virtual/mem/null/uevent" << false << QStringLiteral("内核");
    QTest::newRow("deleted while written") << "deleted" << false << QStringLiteral("已被删除");
  }
  void aLogFileThatCannotTakeLinesIsReportedAndTheWindowGoesOn() {
    QFETCH(QString, path);
    QFETCH(bool, reader);
    QFETCH(QString, reported);
    if (path.startsWith("/sys") && ::geteuid() != 0) QSKIP("only root may open it for writing");
    QTemporaryDir folder;
    ptytest::PtyPair line;
    const QString pty = QString::fromStdString(line.SlavePath()), name = path;
    if (path == "pty") path = pty;
    if (path == "fifo" || path == "flip" || path == "deleted") path = folder.filePath(path);
    QVERIFY(name != "fifo" || ::mkfifo(path.toLocal8Bit().constData(), 0600) == 0);
    if (name == "flip") FlipWhileOpening(path, folder.filePath("file"), pty);
    const int readerFd =
        reader ? ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK) : -1;
    QFile comm(QStringLiteral("/proc/self/comm"));
    QVERIFY(comm.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    const QByteArray processName = comm.readAll();
    TfrmRTUTest window;
    window.KeepLogFile(path);
    window.AppendLogLine(QStringLiteral("first"));
    char got[8] = {};
    QVERIFY(readerFd < 0 || (::read(readerFd, got, sizeof got) == 6 && ::close(readerFd) == 0));
    QVERIFY(name != "deleted" || QFile::remove(path));
    window.AppendLogLine(QStringLiteral("second"));
    window.AppendLogLine(QStringLiteral("third"));
    const QString note = Control<QLabel>(window, "StatusBar1Panel0")->toolTip(),
                  pane = window.LogPane().toPlainText();
    QVERIFY2(reported.isEmpty() ? note.isEmpty() : note.count(reported) == 1, qPrintable(note));
    QVERIFY2(pane.count(QStringLiteral("日志文件")) == (reported.isEmpty() ? 0 : 1),
             qPrintable(pane));
    QCOMPARE(line.DrainMaster().size(), std::size_t{0});
    comm.seek(0);
    QCOMPARE(comm.readAll(), processName);
    QString error;
    QVERIFY(path == "/dev/stdout" || name == "deleted" || !SaveLogLines(path, {"x"}, error));
  }

  // What comes back under a lost link is reopened only when it is the module's line again: not
  // a pty number whose simulator died (the link is no longer claimed), not another user's link
  // and node; still after the name led to /dev/zero for a moment, and after a hang-up that left
  // the node in place. The operator's own click inside the reopen's wait is no reopen.
  void aReturningLinkIsReopenedOnlyWhenItIsTheModulesLine_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("panel");  // panel 0 at the end
    const QString reopened = QStringLiteral("已重新打开"), lost = QStringLiteral("设备已断开");
    QTest::newRow("the module back") << QString() << reopened;
    QTest::newRow("after /dev/zero") << "zero first" << reopened;
    QTest::newRow("hung up, node in place") << "hang up" << reopened;
    QTest::newRow("link of a dead simulator") << "unclaimed" << lost;
    QTest::newRow("another user's link") << "other user" << lost;
    QTest::newRow("operator opens inside") << "operator opens" << QStringLiteral("已打开");
    QTest::newRow("operator fails inside") << "operator fails" << QStringLiteral("没有这个设备");
  }
  void aReturningLinkIsReopenedOnlyWhenItIsTheModulesLine() {
    QFETCH(QString, how);
    QFETCH(QString, panel);
    if ((how == "other user" || how == "hang up") && ::geteuid() != 0) QSKIP("needs root");
    QTemporaryDir folder;
    const QString link = folder.filePath(QStringLiteral("module"));
    const auto pointLink = [&](const std::string& to) {
      const QString next = folder.filePath(QStringLiteral("next"));
      return QFile::link(QString::fromStdString(to), next) &&
             ::rename(next.toLocal8Bit().constData(), link.toLocal8Bit().constData()) == 0;
    };
    TfrmRTUTest window;
    ErrorBoxRecorder boxes;
    std::optional<testsupport::LinkClaim> claim;  // as the running simulator holds its link
    if (how != "unclaimed") claim.emplace(xcom::LinkClaimName(link.toStdString()));
    ptytest::PtyPair first, second;
    QVERIFY(pointLink(first.SlavePath()));
    OpenPort(window, link);
    QTimer operatorClick;  // runs only where the reopen pumps, after its mode frame
    QObject::connect(&operatorClick, &QTimer::timeout, [&] {
      if (window.LineState() != TLineState::Reopened || !InsideCommandWait()) return;
      operatorClick.stop();
      if (how == "operator fails") Control<QLineEdit>(window, "Edit1")->setText(kMissingDevice);
      Control<QPushButton>(window, "Button1")->click();
    });
    if (how.startsWith("operator")) operatorClick.start(5);
    if (how != "hang up")
      first.CloseMaster();
    else if (::ioctl(first.SlaveFd(), TIOCVHANGUP) != 0)
      QSKIP("this system refuses a hang-up (no CAP_SYS_ADMIN)");
    QVERIFY(WaitUntil([&] { return window.LineState() == TLineState::Lost; }, 3000));
    if (how == "zero first")
      QVERIFY(pointLink("/dev/zero") && !WaitUntil([] { return false; }, 600));
    if (how == "other user") QCOMPARE(::chown(second.SlavePath().c_str(), 4242, 4242), 0);
    QVERIFY(how == "hang up" || pointLink(second.SlavePath()));
    if (how == "other user") QCOMPARE(::lchown(link.toLocal8Bit().constData(), 4242, 4242), 0);
    WaitUntil([&] { return Panel(window, 0) == panel && !InsideCommandWait(); }, 2500);
    QTest::qWait(300);
    QCOMPARE(Panel(window, 0), panel);
    QCOMPARE((how == "hang up" ? first : second).DrainMaster().empty(), panel == "设备已断开");
    QVERIFY2(boxes.texts.isEmpty(), qPrintable(boxes.texts.join(QLatin1Char('|'))));
  }

  // After the loss the operator opened something else: the returning device is left alone.
  void noReopenAfterTheOperatorClickedForSomethingElse() {
    QTemporaryDir folder;
    const QString link = folder.filePath(QStringLiteral("module"));
    TfrmRTUTest window;
    const auto first = LinkedModule(link, {1, 0});
    OpenPort(window, link);
    QCOMPARE(Panel(window, 0), QStringLiteral("已打开"));
    first->Pull();
    QVERIFY(WaitUntil([&] { return window.LineState() == TLineState::Lost; }, 3000));
    QVERIFY(Control<QLabel>(window, "StatusBar1Panel0")
                ->toolTip()
                .contains(QStringLiteral("将以同样的设置自动重新打开")));
    OpenPort(window, kMissingDevice);
    Control<QLineEdit>(window, "Edit1")->setText(link);  // the same texts again, but no click
    const auto second = LinkedModule(link, {0, 1});
    QTest::qWait(2500);
    QVERIFY(!window.Port().Opened());
    QCOMPARE(Panel(window, 1), kMissingDevice + QStringLiteral("打开失败"));
  }

  // Typing the start of a file name lists the matching devices in a popup under the box, wide
  // enough for the whole path; Down lists all; Enter takes the highlighted one; a whole name
  // typed closes it.
  void thePortBoxCompletesFromTheDevicesPresent() {
    QTemporaryDir tree;
    const xcom::PortFolders folders{tree.filePath("by-id").toStdString(),
                                    tree.filePath("dev").toStdString(),
                                    tree.filePath("sys").toStdString(), std::string()};
    const QString longName = QStringLiteral("usb-Some_Vendor_USB-RS485_Cable_A1B2C3D4-if00-port0");
    QDir(tree.path()).mkpath(QStringLiteral("by-id"));
    QDir(tree.path()).mkpath(QStringLiteral("dev"));
    QDir(tree.path()).mkpath(QStringLiteral("sys/ttyUSB0/device/driver"));
    QFile::link(QStringLiteral("/dev/null"), tree.filePath("by-id/" + longName));
    QFile::link(QStringLiteral("/dev/null"), tree.filePath("dev/ttyUSB0"));
    QWidget host;
    QLineEdit edit(QStringLiteral("COM1"), &host);
    QPushButton button(&host);
    edit.setGeometry(300, 10, 62, 24);
    button.setGeometry(10, 10, 80, 24);
    InstallPortCompletion(&edit, [&] { return xcom::ScanSerialPorts(folders); });
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    edit.clear();
    QTest::keyClicks(&edit, QStringLiteral("usb-"));
    QAbstractItemView* popup = edit.findChild<QCompleter*>()->popup();
    QVERIFY(popup->isVisible());
    QCOMPARE(popup->model()->rowCount(), 1);
    QCOMPARE(edit.text(), QStringLiteral("usb-"));  // typed text stays until one is taken
    QVERIFY(popup->width() > popup->fontMetrics().horizontalAdvance(longName));
    const int boxLeft = edit.mapToGlobal(QPoint(0, 0)).x();
    QCOMPARE(popup->mapToGlobal(QPoint(0, 0)).x(), boxLeft);  // under the box
    popup->hide();
    QTest::keyClick(&edit, Qt::Key_Down);
    QVERIFY(popup->isVisible());
    QCOMPARE(popup->model()->rowCount(), 2);
    QVERIFY(popup->width() > popup->fontMetrics().horizontalAdvance(longName));
    QCOMPARE(edit.width(), 62);
    QTest::keyClick(popup, Qt::Key_Down);
    QTest::keyClick(popup, Qt::Key_Return);
    QCOMPARE(edit.text(), tree.filePath("by-id/" + longName));
    // A name too long for the screen: the popup stops at its edge, still under the box.
    QFile::link(QStringLiteral("/dev/null"), tree.filePath("by-id/usb-" + QString(240, 'x')));
    QTest::keyClick(&edit, Qt::Key_Down);
    QCOMPARE(popup->mapToGlobal(QPoint(0, 0)).x(), boxLeft);
    QVERIFY(popup->geometry().right() <= edit.screen()->availableGeometry().right());
    popup->hide();
    // A whole name typed leaves no popup to take the click meant for the button (clicked
    // through the window system, where an open popup would take it).
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] { ++clicks; });
    edit.clear();
    QTest::keyClicks(&edit, tree.filePath("dev/ttyUSB0"));
    QTest::mouseClick(host.windowHandle(), Qt::LeftButton, {}, button.geometry().center());
    QCOMPARE(clicks, 1);
  }

  // A sleep keeps its length and runs no tick (the receive poll runs only in the pumps), yet the
  // window repaints during it; the pump after it runs the tick that fell due.
  void aSleepRepaintsButRunsNoTimerTick() {
    PaintCounter widget;
    widget.resize(50, 50);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    const int paintsBefore = widget.paints;
    widget.update();
    QElapsedTimer clock;
    clock.start();
    UiThreadWaits().Sleep(300);
    const qint64 slept = clock.elapsed();
    QVERIFY2(slept >= 300 && slept < 400, qPrintable(QString::number(slept)));
    QCOMPARE(ticks, 0);
    QVERIFY(widget.paints > paintsBefore);
    UiThreadWaits().ProcessMessages();
    QCOMPARE(ticks, 1);  // missed ticks are not queued up
    QVERIFY(!InsideCommandWait());
  }

  void startOptionsLeaveTheDefaultsWhenNotGiven() {
    TfrmRTUTest window;
    ApplyStartOptions(window, TProgramOptions{});
    ScheduleStartActions(window, TProgramOptions{});
    QTest::qWait(50);
    QCOMPARE(Control<QLineEdit>(window, "Edit1")->text(), QStringLiteral("COM1"));
    QCOMPARE(Control<QComboBox>(window, "ComboBox1")->currentText(), QStringLiteral("9600"));
    QCOMPARE(Control<QComboBox>(window, "ComboBox6")->currentText(), QStringLiteral("8N1"));
    QCOMPARE(window.Session().SlaveAddress, 100);
    QVERIFY(window.StatusText(1).isEmpty());
  }
};

RTUTEST_QTEST_MAIN(OperatorTest)
#include "OperatorTest.moc"
