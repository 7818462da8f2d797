// Bad input from the operator, table by table: texts typed into the port name, the baud rate,
// the character format, the slave address and the free text. Each text gets the outcome the
// window promises for it (the failure text with a tooltip that says why, the baud rate or the
// format or the address left as they were, the bytes the module receives), and none of them
// crashes, hangs, opens a message box, or opens or reads a file that is not a terminal.
//
// No text here may reach a real serial port or a console: COMn names map to /dev/ttySn-1 (the
// kernel console on the build machines), so every port name is checked before it is clicked.
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <linux/capability.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <cstdlib>
#include <fstream>

#include "AppTestSupport.h"
#include "DeviceName.h"
#include "OpenFailureHint.h"
#include "PtyPair.h"
#include "ThreadCapabilities.h"

using namespace xcom;

namespace {

const QString kSent = QStringLiteral(" 发送：");
const QString kModeZero = kSent + QStringLiteral("AA 55 00 05 E0 50 00 01 35 ");

// What the tooltip of panel 1 must say for each reason an open fails.
const QString kNoSuchDevice = QStringLiteral("没有这个设备");
const QString kNotSerial = QStringLiteral("不是串口设备");
const QString kBusy = QStringLiteral("串口忙");
const QString kPermission = QStringLiteral("dialout");
const QString kOtherUser = QStringLiteral("属于另一个用户");

// True when `name` could lead the port to a console, a terminal of this session or a real
// serial adapter: such a name must never be clicked in a test.
bool MayReachARealTerminal(const QString& name) {
  const std::string path = DevicePathForName(name.toStdString());
  char resolved[PATH_MAX];
  const std::string real = ::realpath(path.c_str(), resolved) != nullptr ? resolved : path;
  for (const std::string& candidate : {path, real})
    for (const char* prefix : {"/dev/tty", "/dev/console", "/dev/std", "/dev/fd/", "/proc/",
                               "/dev/ptmx", "/dev/pts/ptmx", "/dev/hvc", "/dev/vcs", "/dev/serial"})
      if (candidate.rfind(prefix, 0) == 0) return true;
  // Nor the terminal this test runs in, if any.
  for (int fd = 0; fd <= 2; ++fd) {
    const char* own = ::isatty(fd) ? ::ttyname(fd) : nullptr;
    if (own != nullptr && real == own) return true;
  }
  return false;
}

// Reports every open, read or write of the files in one directory (and of the directory).
class FileWatch {
 public:
  explicit FileWatch(const QString& dir) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0)
      ::inotify_add_watch(fd_, QFile::encodeName(dir).constData(), IN_OPEN | IN_ACCESS | IN_MODIFY);
  }
  ~FileWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileWatch(const FileWatch&) = delete;
  FileWatch& operator=(const FileWatch&) = delete;
  bool Valid() const { return fd_ >= 0; }

  // The events since the last call, as "name:open" / "name:read" / "name:write".
  QStringList Take() {
    QStringList events;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) return events;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        const QString name = event->len > 0 ? QString::fromLocal8Bit(event->name) : ".";
        if (event->mask & IN_OPEN) events << name + ":open";
        if (event->mask & IN_ACCESS) events << name + ":read";
        if (event->mask & IN_MODIFY) events << name + ":write";
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

 private:
  int fd_;
};

// The tooltip's words, without its markup.
QString ToolTipText(const QLabel* panel) {
  return QTextDocumentFragment::fromHtml(panel->toolTip()).toPlainText();
}

QString Repeat(const QString& piece, int times) {
  return piece.repeated(times);
}

QString HexOf(const QByteArray& bytes) {
  QString hex;
  for (const char byte : bytes)
    hex += QStringLiteral("%1 ").arg(static_cast<unsigned char>(byte), 2, 16, QLatin1Char('0'));
  return hex.toUpper();
}

}  // namespace

class BadInputTest : public WindowTestCase {
  Q_OBJECT

 private:
  QTemporaryDir scratch_{QDir::tempPath() + QStringLiteral("/rtutest-bad-input-XXXXXX")};
  std::unique_ptr<ptytest::PtyPair> spare_;  // a terminal nobody else uses
  int fifoKeeper_ = -1;                      // holds the FIFO open with bytes in it

  QString Scratch(const char* name) const { return scratch_.filePath(QLatin1String(name)); }

  // Puts the scratch paths into a text of the table.
  QString Expand(QString text) const {
    QString relative = QDir::current().relativeFilePath(scratch_.path());
    return text.replace(QStringLiteral("{rel}"), relative)
        .replace(QStringLiteral("{dir}"), scratch_.path())
        .replace(QStringLiteral("{pty}"), QString::fromStdString(spare_->SlavePath()));
  }

  // Clicks "打开串口" with `name` after making sure that it cannot reach a real terminal;
  // answers how long the click took.
  qint64 ClickOpen(const QString& name) {
    if (MayReachARealTerminal(name)) {
      QTest::qFail(qPrintable("the test would open a real terminal: " + name.left(80)), __FILE__,
                   __LINE__);
      return -1;
    }
    Control<QLineEdit>(*window_, "Edit1")->setText(name);
    QElapsedTimer clock;
    clock.start();
    Control<QPushButton>(*window_, "Button1")->click();
    return clock.elapsed();
  }

 private slots:
  void initTestCase() {
    QVERIFY(scratch_.isValid());
    std::ofstream(Scratch("plain").toStdString()) << "not a serial line\n";
    std::ofstream(Scratch("pic.png").toStdString()) << "not a picture either\n";
    QVERIFY(QDir().mkpath(Scratch("folder")));
    QCOMPARE(::mkfifo(QFile::encodeName(Scratch("fifo")).constData(), 0600), 0);
    fifoKeeper_ = ::open(QFile::encodeName(Scratch("fifo")).constData(), O_RDWR | O_CLOEXEC);
    QVERIFY(fifoKeeper_ >= 0);
    QCOMPARE(::write(fifoKeeper_, "probe", 5), ssize_t(5));
    QVERIFY(QFile::link(Scratch("plain"), Scratch("link-to-plain")));
    QVERIFY(QFile::link(Scratch("fifo"), Scratch("link-to-fifo")));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), Scratch("link-to-null")));
    spare_ = std::make_unique<ptytest::PtyPair>();
  }
  void cleanupTestCase() {
    if (fifoKeeper_ >= 0) ::close(fifoKeeper_);
    spare_.reset();
  }
  // --- Edit1: the port name --------------------------------------------------------------

  void portNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("why");  // what the tooltip must say
    const QString none = kNoSuchDevice, file = kNotSerial;
    QTest::newRow("empty") << "" << none;
    QTest::newRow("one blank") << " " << none;
    QTest::newRow("blanks") << "      " << none;
    QTest::newRow("10,000 characters") << Repeat("A", 10000) << none;
    QTest::newRow("10,000 characters after /dev/") << "/dev/" + Repeat("x", 10000) << none;
    QTest::newRow("tab") << "\t" << none;
    QTest::newRow("line breaks") << "port\r\nname" << none;
    QTest::newRow("control characters") << QString::fromUtf8("\x01\x02\x1b[2J\x7f") << none;
    QTest::newRow("escape sequence") << "\x1b]0;title\x07" << none;
    QTest::newRow("emoji") << QStringLiteral("😀") << none;
    QTest::newRow("emoji in a path") << QStringLiteral("/dev/pts/😀") << none;
    QTest::newRow("Chinese") << QStringLiteral("串口一") << none;
    QTest::newRow("text GBK cannot hold") << QStringLiteral("𠀀𪚥") << none;
    QTest::newRow("Korean") << QStringLiteral("직렬포트") << none;
    QTest::newRow("printf directives") << "%s%n%x%d" << none;
    QTest::newRow("markup") << "<b>ttyUSB0</b>" << none;
    QTest::newRow("markup with a picture") << "<img src=\"{dir}/pic.png\">" << none;
    QTest::newRow("COM0 (no such COM number)") << "COM0" << none;
    QTest::newRow("COM without a number") << "COM" << none;
    QTest::newRow("tilde") << "~" << none;
    QTest::newRow("trailing blank") << "{pty} " << none;
    QTest::newRow("leading blank") << " {pty}" << none;
    QTest::newRow("zero byte inside") << QStringLiteral("{pty}") + QChar(0) + "x" << none;
    QTest::newRow("below a terminal") << "{pty}/../x" << none;
    QTest::newRow("missing pty number") << "/dev/pts/999999" << none;
    QTest::newRow("missing file in a folder") << "{dir}/missing" << none;
    QTest::newRow("../ to nowhere") << "../../nonexistent-kestrum" << none;
    QTest::newRow("../ alone") << "../" << file;
    QTest::newRow("..") << ".." << file;
    QTest::newRow(".") << "." << file;
    QTest::newRow("slashes") << "////" << file;
    QTest::newRow("../ to a regular file") << "{rel}/plain" << file;
    QTest::newRow("regular file") << "{dir}/plain" << file;
    QTest::newRow("picture file") << "{dir}/pic.png" << file;
    QTest::newRow("directory") << "{dir}/folder" << file;
    QTest::newRow("directory with slash") << "{dir}/" << file;
    QTest::newRow("FIFO") << "{dir}/fifo" << file;
    QTest::newRow("link to a regular file") << "{dir}/link-to-plain" << file;
    QTest::newRow("link to a FIFO") << "{dir}/link-to-fifo" << file;
    QTest::newRow("link to /dev/null") << "{dir}/link-to-null" << file;
    QTest::newRow("/dev/null") << "/dev/null" << file;
    QTest::newRow("null (bare name)") << "null" << file;
    QTest::newRow("/dev/zero") << "/dev/zero" << file;
    QTest::newRow("/dev/urandom") << "/dev/urandom" << file;
    QTest::newRow("/etc/passwd") << "/etc/passwd" << file;
  }

  void portNames() {
    QFETCH(QString, name);
    QFETCH(QString, why);
    name = Expand(name);
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    FileWatch watch(scratch_.path());
    QVERIFY(watch.Valid());
    const qint64 ms = ClickOpen(name);
    QVERIFY2(ms >= 0 && ms < 2000, qPrintable(QString::number(ms)));

    QVERIFY(!w.Port().Opened());
    QCOMPARE(w.StatusText(1), name + QStringLiteral("打开失败"));
    QCOMPARE(Control<QLabel>(w, "StatusBar1Panel1")->textFormat(),
             Qt::PlainText);  // never read as markup
    const QString tip = ToolTipText(Control<QLabel>(w, "StatusBar1Panel1"));
    QVERIFY2(tip.contains(why), qPrintable(tip));
    QCOMPARE(w.Session().DeviceMode, -1);
    QVERIFY(LogLines(w).isEmpty());
    QVERIFY(boxes.texts.isEmpty());
    for (int row : {1, 2, 4, 5}) QVERIFY(Cell(w, row).isEmpty());
    // Nothing in the scratch folder was opened, read or written, and the FIFO kept its bytes.
    QApplication::processEvents();  // a label that rendered markup would load its picture here
    QCOMPARE(watch.Take(), QStringList());
    int queued = 0;
    QCOMPARE(::ioctl(fifoKeeper_, FIONREAD, &queued), 0);
    QCOMPARE(queued, 5);
  }

  void tooltipTellsABusyPortAndAForbiddenOne() {
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    ptytest::PtyPair line;
    const QString path = QString::fromStdString(line.SlavePath());
    // Another port (another program, as far as the window can tell) holds the line.
    {
      TXComm other;
      other.SetDeviceName(line.SlavePath());
      QVERIFY(other.OpenDevice());
      ClickOpen(path);
      QVERIFY(!w.Port().Opened());
      QCOMPARE(w.StatusText(1), path + QStringLiteral("打开失败"));
      QVERIFY2(ToolTipText(Control<QLabel>(w, "StatusBar1Panel1")).contains(kBusy),
               qPrintable(ToolTipText(Control<QLabel>(w, "StatusBar1Panel1"))));
    }
    // Free again: it opens, and the tooltip tells the settings read back instead.
    ClickOpen(path);
    QVERIFY(w.Port().Opened());
    QCOMPARE(w.StatusText(1), path + QStringLiteral("打开成功,BaudRate=9600,参数=8N1"));
    QVERIFY(ToolTipText(Control<QLabel>(w, "StatusBar1Panel1"))
                .startsWith(QStringLiteral("设备实际：9600 波特，8N1")));

    // A device the user may not open: mode 000, and this thread without the capabilities by
    // which root passes permission checks.
    ptytest::PtyPair locked;
    const QString lockedPath = QString::fromStdString(locked.SlavePath());
    QCOMPARE(::chmod(locked.SlavePath().c_str(), 0), 0);
    {
      ptytest::ScopedCapabilityDrop asUser({CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH});
      if (!asUser.Active()) QSKIP("this thread's capabilities cannot be lowered");
      ClickOpen(lockedPath);
    }
    QVERIFY(!w.Port().Opened());
    QCOMPARE(w.StatusText(1), lockedPath + QStringLiteral("打开失败"));
    // A pty belongs to a user (group tty): joining dialout would not help.
    QVERIFY2(ToolTipText(Control<QLabel>(w, "StatusBar1Panel1")).contains(kOtherUser),
             qPrintable(ToolTipText(Control<QLabel>(w, "StatusBar1Panel1"))));
    QVERIFY(!ToolTipText(Control<QLabel>(w, "StatusBar1Panel1")).contains(kPermission));
    // The group dialout owns it: joining that group is the advice.
    const group* dialout = ::getgrnam("dialout");
    if (dialout == nullptr) QSKIP("no dialout group here");
    QCOMPARE(::chown(locked.SlavePath().c_str(), 0, dialout->gr_gid), 0);
    {
      ptytest::ScopedCapabilityDrop asUser({CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH});
      ClickOpen(lockedPath);
    }
    QVERIFY2(ToolTipText(Control<QLabel>(w, "StatusBar1Panel1")).contains(kPermission),
             qPrintable(ToolTipText(Control<QLabel>(w, "StatusBar1Panel1"))));
    QVERIFY(boxes.texts.isEmpty());
    // Where the system names no owner, the advice is a user who may open it.
    const OpenFailureInfo ownerless{OpenFailure::PermissionDenied, EACCES, {}, {}};
    QVERIFY(OpenFailureHint(lockedPath, ownerless).contains(QStringLiteral("请以有权限的用户")));
  }

  void tooltipTellsSettingsTheDeviceRefused() {
    // Linux has no 1.5 stop bits: a format that leaves them in place ("8N" keeps the stop
    // bits) is refused once the device is open. The port stays open, the panel shows the
    // failure text and the tooltip names the refused settings.
    SimulatedModuleOnPty module;
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    w.PortFormat().SetStopBits(sb1p5);
    OpenPort(w, module.Path(), QStringLiteral("9600"), QStringLiteral("8N"));
    QVERIFY(w.Port().Opened());
    QCOMPARE(w.StatusText(1), module.Path() + QStringLiteral("打开失败"));
    const QString tip = ToolTipText(Control<QLabel>(w, "StatusBar1Panel1"));
    QVERIFY2(tip.contains(QStringLiteral("不接受所选的设置")), qPrintable(tip));
    QVERIFY2(tip.contains(QStringLiteral("Unable to update device control block.")),
             qPrintable(tip));
    QVERIFY(LogLines(w).isEmpty());
    // The next click with a format the line takes replaces the reason with the read-back.
    OpenPort(w, module.Path(), QStringLiteral("9600"), QStringLiteral("8N1"));
    QCOMPARE(w.StatusText(1), module.Path() + QStringLiteral("打开成功,BaudRate=9600,参数=8N1"));
    QVERIFY(ToolTipText(Control<QLabel>(w, "StatusBar1Panel1"))
                .startsWith(QStringLiteral("设备实际：9600 波特，8N1")));
    QVERIFY(boxes.texts.isEmpty());
  }

  // --- ComboBox1: the baud rate ----------------------------------------------------------

  void baudTexts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("rate");  // TBaudRate
    QTest::addColumn<uint>("value");
    const int standard = br9600, custom = brCustom;
    QTest::newRow("empty") << "" << standard << 9600u;
    QTest::newRow("blanks") << "   " << standard << 9600u;
    QTest::newRow("trailing blank") << "19200 " << standard << 9600u;
    QTest::newRow("leading blank") << " 4800" << standard << 9600u;
    QTest::newRow("negative") << "-9600" << standard << 9600u;
    QTest::newRow("zero") << "0" << standard << 9600u;
    QTest::newRow("out of range") << "99999999999999999999" << standard << 9600u;
    QTest::newRow("exponent") << "1e5" << standard << 9600u;
    QTest::newRow("full-width digits") << QStringLiteral("１１５２００") << standard << 9600u;
    QTest::newRow("10,000 digits") << Repeat("9", 10000) << standard << 9600u;
    QTest::newRow("control characters") << "\t115200\n" << standard << 9600u;
    QTest::newRow("emoji") << QStringLiteral("😀") << standard << 9600u;
    QTest::newRow("typed 76800") << "76800" << custom << 76800u;
    QTest::newRow("typed 33600") << "33600" << custom << 33600u;
  }

  void baudTexts() {
    QFETCH(QString, text);
    QFETCH(int, rate);
    QFETCH(uint, value);
    SimulatedModuleOnPty module;
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    Control<QComboBox>(w, "ComboBox1")->setEditText(text);
    QElapsedTimer clock;
    clock.start();
    ClickOpen(module.Path());
    QVERIFY(clock.elapsed() < 3000);  // the open's 500 ms wait after the mode frame, no more
    QVERIFY(w.Port().Opened());
    QCOMPARE(int(w.Port().BaudRate()), rate);
    QCOMPARE(w.Port().BaudValue(), value);
    // The success text shows the text exactly as typed.
    QCOMPARE(w.StatusText(1), module.Path() + QStringLiteral("打开成功,BaudRate=") + text +
                                  QStringLiteral(",参数=8N1"));
    QCOMPARE(LogTail(w, 0), QStringList{kModeZero});
    QVERIFY(boxes.texts.isEmpty());
  }

  // --- ComboBox6: the character format ---------------------------------------------------

  void formatTexts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");  // data bits, parity letter, stop bits afterwards
    // Before each text the port holds 7 data bits, odd parity, 2 stop bits.
    QTest::newRow("empty") << ""
                           << "7O2";
    QTest::newRow("blanks") << "   "
                            << "7O2";
    QTest::newRow("one character") << "8"
                                   << "8O2";
    QTest::newRow("two characters") << "8E"
                                    << "8E2";
    QTest::newRow("lower case") << "8n1"
                                << "8O1";
    QTest::newRow("reversed") << "1N8"
                              << "7N2";
    QTest::newRow("control characters") << "\t\r\n"
                                        << "7O2";
    QTest::newRow("zero bytes") << QString(3, QChar(0)) << "7O2";
    QTest::newRow("emoji first") << QStringLiteral("😀N1") << "7N1";
    QTest::newRow("emoji last") << QStringLiteral("8E😀") << "8E2";
    QTest::newRow("full-width") << QStringLiteral("８Ｎ１") << "7O2";
    QTest::newRow("Chinese") << QStringLiteral("中E1") << "7E1";
    QTest::newRow("text GBK cannot hold") << QStringLiteral("𠀀𪚥1") << "7O1";
    QTest::newRow("10,000 characters") << "8E1" + Repeat("x", 9997) << "8E1";
    QTest::newRow("nonsense") << "9Z3"
                              << "7O2";
  }

  void formatTexts() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    w.PortFormat().SetDataBits(db7);
    w.PortFormat().SetParity(paOdd);
    w.PortFormat().SetStopBits(sb2);
    Control<QComboBox>(w, "ComboBox6")->setEditText(text);
    const qint64 ms = ClickOpen(kMissingDevice);
    QVERIFY(ms >= 0 && ms < 2000);
    const char parity[] = {'N', 'O', 'E', 'M', 'S'};
    const TCommDataControl& format = w.Port().DataControl();
    const QString got = QString::number(int(format.DataBits()) + 4) +
                        QLatin1Char(parity[int(format.Parity())]) +
                        QLatin1Char(format.StopBits() == sb2 ? '2' : '1');
    QCOMPARE(got, expected);
    QCOMPARE(w.StatusText(1), kMissingDevice + QStringLiteral("打开失败"));
    QVERIFY(boxes.texts.isEmpty());
  }

  void oddFormatTextsShowAsTypedAfterASuccessfulOpen() {
    SimulatedModuleOnPty module;
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    for (const QString& text : {QStringLiteral("8N1 "), QStringLiteral("8N1😀"),
                                QStringLiteral("8N1\t<b>x</b>"), "8N1" + Repeat("z", 9997)}) {
      Control<QComboBox>(w, "ComboBox6")->setEditText(text);
      ClickOpen(module.Path());
      QVERIFY(w.Port().Opened());
      QCOMPARE(w.StatusText(1),
               module.Path() + QStringLiteral("打开成功,BaudRate=9600,参数=") + text);
    }
    QVERIFY(boxes.texts.isEmpty());
  }

  // --- edmodaddr: the slave address ------------------------------------------------------

  void addressTexts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qlonglong>("address");  // afterwards; 77 was set before
    QTest::newRow("empty") << "" << 77LL;
    QTest::newRow("blanks") << "   " << 77LL;
    QTest::newRow("trailing blank") << "100 " << 77LL;
    QTest::newRow("leading blanks") << "  100" << 100LL;
    QTest::newRow("leading tab") << "\t100" << 77LL;
    QTest::newRow("line break") << "100\n" << 77LL;
    QTest::newRow("letters") << "abc" << 77LL;
    QTest::newRow("exponent") << "1e3" << 77LL;
    QTest::newRow("two signs") << "--5" << 77LL;
    QTest::newRow("sign alone") << "-" << 77LL;
    QTest::newRow("dollar alone") << "$" << 77LL;
    QTest::newRow("0x alone") << "0x" << 77LL;
    QTest::newRow("largest") << "2147483647" << 2147483647LL;
    QTest::newRow("one above the largest") << "2147483648" << 77LL;
    QTest::newRow("smallest") << "-2147483648" << -2147483648LL;
    QTest::newRow("one below the smallest") << "-2147483649" << 77LL;
    QTest::newRow("20 digits") << "99999999999999999999" << 77LL;
    QTest::newRow("hex filling 32 bits") << "$FFFFFFFF" << -1LL;
    QTest::newRow("hex beyond 32 bits") << "0x100000000" << 77LL;
    QTest::newRow("10,000 ones") << Repeat("1", 10000) << 77LL;
    QTest::newRow("10,000 zeros") << Repeat("0", 10000) << 0LL;
    QTest::newRow("full-width digits") << QStringLiteral("１００") << 77LL;
    QTest::newRow("emoji") << QStringLiteral("😀") << 77LL;
    QTest::newRow("Chinese") << QStringLiteral("一百") << 77LL;
    QTest::newRow("zero byte after digits") << QStringLiteral("12") + QChar(0) << 77LL;
    QTest::newRow("plus sign") << "+300" << 300LL;
    QTest::newRow("2 to the 32nd") << "4294967296" << 77LL;
    QTest::newRow("0x64") << "0x64" << 100LL;
    QTest::newRow("$64") << "$64" << 100LL;
    QTest::newRow("300 is stored whole") << "300" << 300LL;
    QTest::newRow("-1") << "-1" << -1LL;
  }

  void addressTexts() {
    QFETCH(QString, text);
    QFETCH(qlonglong, address);
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    Control<QLineEdit>(w, "edmodaddr")->setText(QStringLiteral("77"));
    Control<QPushButton>(w, "Button2")->click();
    QCOMPARE(w.Session().SlaveAddress, 77);
    Control<QLineEdit>(w, "edmodaddr")->setText(text);
    QCOMPARE(w.Session().SlaveAddress, 77);  // typing alone changes nothing
    Control<QPushButton>(w, "Button2")->click();
    QCOMPARE(qlonglong(w.Session().SlaveAddress), address);
    QCOMPARE(Control<QLineEdit>(w, "edmodaddr")->text(), text);  // the box keeps what was typed
    QVERIFY(LogLines(w).isEmpty());                              // nothing logged, nothing sent
    QVERIFY(boxes.texts.isEmpty());
  }

  // --- Edit2: the free text --------------------------------------------------------------

  void freeTexts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");  // what the module receives (GBK)
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("blanks") << "   " << QByteArray("   ");
    QTest::newRow("control characters")
        << "\x01\x02\x1b\r\n\x7f" << QByteArray("\x01\x02\x1b\r\n\x7f");
    QTest::newRow("zero byte inside")
        << QStringLiteral("a") + QChar(0) + "b" << QByteArray("a\0b", 3);
    QTest::newRow("Chinese") << QStringLiteral("中文") << QByteArray("\xD6\xD0\xCE\xC4");
    QTest::newRow("emoji") << QStringLiteral("😀") << QByteArray("?");
    QTest::newRow("text GBK cannot hold") << QStringLiteral("a𠀀b") << QByteArray("a?b");
    QTest::newRow("path") << "../../etc/passwd" << QByteArray("../../etc/passwd");
    QTest::newRow("10,000 characters") << Repeat("A", 10000) << QByteArray(10000, 'A');
  }

  void freeTexts() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    SimulatedModuleOnPty module;
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    ClickOpen(module.Path());
    QVERIFY(w.Port().Opened());
    QVERIFY(
        module.Sim().WaitFor([](auto& c) { return c.modeFrames >= 1; }, std::chrono::seconds(5)));
    const std::uint64_t before = module.Sim().GetCounters().bytesReceived;
    Control<QLineEdit>(w, "Edit2")->setText(text);
    QElapsedTimer clock;
    clock.start();
    Guarded([&] { w.Button11Click(Control<QPushButton>(w, "Button11")); });
    QVERIFY(clock.elapsed() < 3000);
    QCOMPARE(LogTail(w, 1), (QStringList{QStringLiteral(" 发送：AA 55 00 05 E0 50 01 01 36 "),
                                         kSent + HexOf(bytes)}));
    // The mode frame and then every byte of the text reached the module.
    const std::uint64_t expected = before + 9 + std::uint64_t(bytes.size());
    QVERIFY(module.Sim().WaitFor([&](auto& c) { return c.bytesReceived >= expected; },
                                 std::chrono::seconds(5)));
    QCOMPARE(module.Sim().GetCounters().bytesReceived, expected);
    QVERIFY(boxes.texts.isEmpty());
  }
};

RTUTEST_QTEST_MAIN(BadInputTest)
#include "BadInputTest.moc"
