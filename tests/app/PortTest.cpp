// The whole operator workflow against the simulated module on a pseudo-terminal: opening and
// reopening, the mode frame on every open, the read-all with its eight log lines and four
// cells, relay commands, the free text and the mode frames around it, the slave address in the
// frames, and replies split or joined on their way.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <thread>

#include "AppTestSupport.h"

using namespace modbus;  // the protocol layer
#include "ModbusCrc.h"
#include "PtyPair.h"
#include "ResponseText.h"

using namespace xcom;
using kestrum_sim::Simulator;

namespace {

const QString kSent = QStringLiteral(" 发送：");
const QString kReceived = QStringLiteral(" 接收：");
const QString kModeZero = kSent + QStringLiteral("AA 55 00 05 E0 50 00 01 35 ");
const QString kModeOne = kSent + QStringLiteral("AA 55 00 05 E0 50 01 01 36 ");

Simulator::Options ModuleWith(std::uint16_t di1, std::uint16_t di2) {
  Simulator::Options options;
  options.module.inputs = {di1, di2};
  return options;
}

const auto Hex = testsupport::HexBytes;

}  // namespace

class PortTest : public WindowTestCase {
  Q_OBJECT

 private:
  // Opens the port and returns the log position after the open's mode frame.
  int OpenOn(const QString& path) {
    OpenPort(*window_, path);
    return static_cast<int>(LogLines(*window_).size());
  }

  // Opens a pty pair, clicks `button` and answers its first request (`requestSize` bytes) with
  // `reply`; returns the log from the open on once it has `lines` lines and nothing follows.
  QStringList AnswerFirstRequest(QPushButton* button, std::size_t requestSize,
                                 const ptytest::Bytes& reply, int lines) {
    ptytest::PtyPair line;
    const int first = OpenOn(QString::fromStdString(line.SlavePath()));
    line.DrainMaster();
    ptytest::PeerThread peer([&] {
      line.ReadMaster(requestSize, 3000);
      line.WriteMaster(reply);
    });
    button->click();
    peer.Join();
    WaitUntil([&] { return LogLines(*window_).size() >= first + lines; }, 2000);
    QTest::qWait(200);
    return LogTail(*window_, first);
  }

 private slots:
  void everyOpenSendsTheControlModeFrame() {
    SimulatedModuleOnPty module;
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    OpenPort(w, module.Path());
    QVERIFY(w.Port().Opened());
    QCOMPARE(w.StatusText(1), module.Path() + QStringLiteral("打开成功,BaudRate=9600,参数=8N1"));
    QCOMPARE(w.Session().DeviceMode, 0);
    QCOMPARE(LogTail(w, 0), QStringList{kModeZero});
    // A second click closes and reopens: one more mode frame.
    Control<QPushButton>(w, "Button1")->click();
    QVERIFY(w.Port().Opened());
    QCOMPARE(LogTail(w, 0), (QStringList{kModeZero, kModeZero}));
    QVERIFY(
        module.Sim().WaitFor([](auto& c) { return c.modeFrames >= 2; }, std::chrono::seconds(5)));
    // A changed name takes effect on the next click; a name that cannot open leaves it closed.
    OpenPort(w, kMissingDevice);
    QVERIFY(!w.Port().Opened());
    QCOMPARE(w.StatusText(1), kMissingDevice + QStringLiteral("打开失败"));
    QCOMPARE(LogLines(w).size(), 2);
    // Typed settings show as typed.
    OpenPort(w, module.Path(), QStringLiteral("9600 "), QStringLiteral("8n1"));
    QVERIFY(w.Port().Opened());
    QCOMPARE(w.StatusText(1), module.Path() + QStringLiteral("打开成功,BaudRate=9600 ,参数=8n1"));
    QCOMPARE(w.Port().BaudValue(), 9600u);
    OpenPort(w, module.Path(), QStringLiteral("921600"));
    QVERIFY(w.Port().Opened());
    QCOMPARE(w.Port().BaudValue(), 921600u);
    QCOMPARE(LogTail(w, 2), (QStringList{kModeZero, kModeZero}));
    QVERIFY(boxes.texts.isEmpty());
  }

  void settingsTheDeviceRefusesLeaveItOpenWithTheFailureText() {
    SimulatedModuleOnPty module;
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    // A pseudo-terminal keeps 8 data bits without parity whatever it is told, so applying 7E2
    // fails once the device is open.
    OpenPort(w, module.Path(), QStringLiteral("9600"), QStringLiteral("7E2"));
    if (w.StatusText(1).endsWith(QStringLiteral("打开成功,BaudRate=9600,参数=7E2")))
      QSKIP("this system's pseudo-terminals take 7E2");
    QCOMPARE(w.StatusText(1), module.Path() + QStringLiteral("打开失败"));
    QVERIFY(w.Port().Opened());  // the command does not close it
    QCOMPARE(w.Session().DeviceMode, -1);
    QVERIFY(LogLines(w).isEmpty());  // no mode frame
    QVERIFY(boxes.texts.isEmpty());
    // The next click closes it first and opens it again.
    OpenPort(w, module.Path());
    QCOMPARE(w.StatusText(1), module.Path() + QStringLiteral("打开成功,BaudRate=9600,参数=8N1"));
    QCOMPARE(LogTail(w, 0), QStringList{kModeZero});
  }

  void readAllLogsEightLinesAndFillsFourCells() {
    SimulatedModuleOnPty module(ModuleWith(1, 0));
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    int first = OpenOn(module.Path());
    // Relay 2 on: its 8-byte reply is logged and never decoded.
    Control<QPushButton>(w, "Button5")->click();
    QVERIFY(WaitUntil([&] { return LogLines(w).size() >= first + 2; }, 3000));
    QTest::qWait(300);
    QCOMPARE(LogTail(w, first), (QStringList{kSent + "64 10 00 15 00 01 02 00 01 F2 07 ",
                                             kReceived + "64 10 00 15 00 01 19 F8 "}));
    for (int row : {1, 2, 4, 5}) QVERIFY(Cell(w, row).isEmpty());

    first = static_cast<int>(LogLines(w).size());
    Control<QPushButton>(w, "BitBtn1")->click();
    QVERIFY(WaitUntil([&] { return LogLines(w).size() >= first + 8; }, 3000));
    QTest::qWait(300);
    QCOMPARE(LogTail(w, first), (QStringList{
                                    kSent + "64 03 00 10 00 02 CC 3B ",
                                    kReceived + "64 03 04 00 01 00 00 9E F5 ",
                                    "DI1=01 ",
                                    "DI2=00 ",
                                    kSent + "64 03 00 14 00 02 8D FA ",
                                    kReceived + "64 03 04 00 00 00 01 0E F5 ",
                                    "DO1=00 ",
                                    "DO2=01 ",
                                }));
    QCOMPARE(Cell(w, 1), QStringLiteral("01 "));
    QCOMPARE(Cell(w, 2), QStringLiteral("00 "));
    QCOMPARE(Cell(w, 4), QStringLiteral("00 "));
    QCOMPARE(Cell(w, 5), QStringLiteral("01 "));
    QCOMPARE(Cell(w, 0), QStringLiteral("DIN通道状态"));
    QVERIFY(w.Session().ReadingOutputs);
    QVERIFY(boxes.texts.isEmpty());
    // Closing (a failed reopen) keeps the cells.
    OpenPort(w, kMissingDevice);
    QCOMPARE(Cell(w, 1), QStringLiteral("01 "));
  }

  void framesCarryTheLowByteOfTheSlaveAddress() {
    SimulatedModuleOnPty module;
    TfrmRTUTest& w = *window_;
    const int first = OpenOn(module.Path());
    Control<QLineEdit>(w, "edmodaddr")->setText(QStringLiteral("300"));
    Control<QPushButton>(w, "Button2")->click();
    QCOMPARE(w.Session().SlaveAddress, 300);
    Control<QPushButton>(w, "BitBtn1")->click();
    QTest::qWait(300);
    QCOMPARE(LogTail(w, first),
             (QStringList{kSent + "2C 03 00 10 00 02 C3 B3 ", kSent + "2C 03 00 14 00 02 82 72 "}));
    Control<QLineEdit>(w, "edmodaddr")->setText(QStringLiteral("$64"));
    Control<QPushButton>(w, "Button2")->click();
    Guarded([&] { w.Button10Click(Control<QPushButton>(w, "Button10")); });
    QCOMPARE(LogTail(w, first).last(), kSent + "64 10 00 17 00 01 02 00 00 32 25 ");
  }

  void repliesSplitByTheModuleStillJoinWithinOneTick() {
    Simulator::Options options = ModuleWith(1, 1);
    options.faults.split = std::chrono::milliseconds(20);
    SimulatedModuleOnPty module(options);
    TfrmRTUTest& w = *window_;
    const int first = OpenOn(module.Path());
    Control<QPushButton>(w, "BitBtn1")->click();
    QVERIFY(WaitUntil([&] { return LogLines(w).size() >= first + 8; }, 3000));
    QTest::qWait(300);
    const QStringList tail = LogTail(w, first);
    QCOMPARE(tail.size(), 8);
    QCOMPARE(tail[1], kReceived + "64 03 04 00 01 00 01 5F 35 ");
    QCOMPARE(tail.mid(2, 2), (QStringList{"DI1=01 ", "DI2=01 "}));
    QCOMPARE(tail.mid(6, 2), (QStringList{"DO1=00 ", "DO2=00 "}));
    QVERIFY(module.Sim().GetCounters().repliesSplit >= 2);
  }

  void aReplySplitAcrossTwoTicksIsLoggedTwiceAndNotDecoded() {
    ptytest::PtyPair line;
    TfrmRTUTest& w = *window_;
    const int first = OpenOn(QString::fromStdString(line.SlavePath()));
    line.DrainMaster();
    QVERIFY(line.WriteMaster(Hex("64 03 04 00 01 ")));
    QTest::qWait(300);  // the ticks meanwhile take the first part alone
    QVERIFY(line.WriteMaster(Hex("00 00 9E F5 ")));
    QVERIFY(WaitUntil([&] { return LogLines(w).size() >= first + 2; }, 2000));
    QTest::qWait(200);
    QCOMPARE(LogTail(w, first),
             (QStringList{kReceived + "64 03 04 00 01 ", kReceived + "00 00 9E F5 "}));
    QVERIFY(Cell(w, 1).isEmpty());
    // Split 20 ms apart, the same reply lands in one block and is decoded: the second part
    // comes while the tick that took the first part waits its 60 ms.
    {
      ptytest::PeerThread peer([&] {
        line.WriteMaster(Hex("64 03 04 00 01 "));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        line.WriteMaster(Hex("00 00 9E F5 "));
      });
      QVERIFY(WaitUntil([&] { return LogLines(w).size() >= first + 5; }, 2000));
    }
    QCOMPARE(LogTail(w, first + 2),
             (QStringList{kReceived + "64 03 04 00 01 00 00 9E F5 ", "DI1=01 ", "DI2=00 "}));
  }

  // A reply shows only as the answer to a request no other request owed one could have, however
  // it arrives: late, joined, corrupted, lost, twice, behind the echo a 2-wire adapter hears and
  // stray bytes, or from another slave; nothing sent before an open waits after it. `answers`:
  // what the peer answers to each request it reads, ';' between ("@ms " delays it; I and O: the
  // inputs' and the outputs' reply; "reopen": "打开串口" and a second read-all). `shown`: the
  // decoder lines (i, o: the inputs', the outputs' values; d: the note of a reply that may
  // answer either request; c: the CRC line).
  void repliesAreDecodedAsWhatTheyAnswer_data() {
    QTest::addColumn<QString>("answers");
    QTest::addColumn<QString>("shown");
    QTest::newRow("at once") << "I;O"
                             << "i o";
    QTest::newRow("late within the gap") << "@300 I;@150 O"
                                         << "i o";
    QTest::newRow("late past the gap") << "@900 I;@100 O"
                                       << "d o";
    QTest::newRow("joined after the second request") << ";I O"
                                                     << "d o";
    QTest::newRow("corrupted") << "64 03 04 00 01 00 00 9E F4;O"
                               << "c o";
    QTest::newRow("lost") << ";O"
                          << "d";
    QTest::newRow("twice") << "I I;O"
                           << "i o";
    QTest::newRow("echo and stray bytes") << "64 03 00 10 00 02 CC 3B I;00 FF O"
                                          << "i o";
    QTest::newRow("another slave") << "65 03 04 00 01 00 00 8E 35;O"
                                   << "d";
    QTest::newRow("reopen after a lost reply") << "I;;reopen;I;O"
                                               << "i i o";
  }
  void repliesAreDecodedAsWhatTheyAnswer() {
    QFETCH(QString, answers);
    QFETCH(QString, shown);
    answers.replace("I", "64 03 04 00 01 00 00 9E F5").replace("O", "64 03 04 00 00 00 01 0E F5");
    const QStringList script = answers.split(';');
    const QMap<QString, QString> lines{{"i", "DI1=01 |DI2=00 "},
                                       {"o", "DO1=00 |DO2=01 "},
                                       {"d", QString::fromUtf8(kReplyInDoubtLine)},
                                       {"c", kCrcErrorLine}};
    QStringList expected;
    for (const QString& token : shown.split(' ')) expected += lines[token].split('|');
    ptytest::PtyPair line;
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    const int start = OpenOn(QString::fromStdString(line.SlavePath()));
    line.DrainMaster();
    ptytest::PeerThread peer([&] {
      for (QString answer : script) {
        if (answer == "reopen" && line.ReadMaster(9, 4000).size() == 9) continue;  // mode frame
        if (line.ReadMaster(8, 4000).size() != 8) return;
        if (answer.startsWith('@')) {
          std::this_thread::sleep_for(
              std::chrono::milliseconds(answer.section(' ', 0, 0).mid(1).toInt()));
          answer = answer.section(' ', 1);
        }
        if (!answer.isEmpty()) line.WriteMaster(Hex(answer.toStdString() + " "));
      }
    });
    Control<QPushButton>(w, "BitBtn1")->click();  // the receive poll runs on while the peer answers
    if (script.contains("reopen")) {
      Control<QPushButton>(w, "Button1")->click();
      Control<QPushButton>(w, "BitBtn1")->click();
    }
    peer.Join();
    const auto decoderLines = [&] {
      return LogTail(w, start).filter(QRegularExpression(QStringLiteral("^(?! 发送| 接收)")));
    };
    WaitUntil([&] { return decoderLines().size() >= expected.size(); }, 3000);
    QTest::qWait(300);
    QCOMPARE(decoderLines(), expected);
    QVERIFY(boxes.texts.isEmpty());
  }

  // Address 101 answering on a shared bus is not this module.
  void aReplyFromAnotherSlaveIsNotShown() {
    const QStringList tail = AnswerFirstRequest(Control<QPushButton>(*window_, "BitBtn1"), 8,
                                                WithCrc(Hex("65 03 04 00 01 00 01 ")), 3);
    QCOMPARE(tail.size(), 3);  // two requests, the reply's receive line
    for (int row : {1, 2, 4, 5}) QVERIFY(Cell(*window_, row).isEmpty());
  }

  void anExceptionReplyIsNamedInWords() {
    const QStringList tail = AnswerFirstRequest(Control<QPushButton>(*window_, "Button5"), 11,
                                                WithCrc(Hex("64 90 02 ")), 3);
    QCOMPARE(tail.last(), QStringLiteral("异常应答：功能码10 (write multiple registers)，"
                                         "异常码02 (illegal data address)"));
  }

  // At address 1 the relay 2 reply is made only of bytes <= 0x20, yet it is a whole frame.
  void aWholeFrameOfBlankBytesIsLogged() {
    Control<QLineEdit>(*window_, "edmodaddr")->setText(QStringLiteral("1"));
    Control<QPushButton>(*window_, "Button2")->click();
    const QStringList tail = AnswerFirstRequest(Control<QPushButton>(*window_, "Button5"), 11,
                                                Hex("01 10 00 15 00 01 10 0D "), 2);
    QCOMPARE(tail.last(), kReceived + "01 10 00 15 00 01 10 0D ");
  }

  void aFrameThatDidNotLeaveWholeIsLoggedAsSuch() {
    ptytest::PtyPair line;
    TfrmRTUTest& w = *window_;
    ErrorBoxRecorder boxes;
    const int first = OpenOn(QString::fromStdString(line.SlavePath()));
    line.CloseMaster();  // the module's line is gone
    Control<QPushButton>(w, "Button3")->click();
    QVERIFY(LogTail(w, first).contains(kSent + "64 10 00 14 00 01 02 00 01 F3 D6 （未完整发出）"));
  }

  void blankBytesAreNotLogged() {
    ptytest::PtyPair line;
    TfrmRTUTest& w = *window_;
    const int first = OpenOn(QString::fromStdString(line.SlavePath()));
    // Each blank block must be taken by a poll of its own before the next block is written;
    // the poll is held while the block arrives so that "taken" can be told from "not yet here".
    const auto pollTakes = [&](const std::string& blanks) {
      Control<QTimer>(w, "Timer1")->stop();
      const bool written = line.WriteMaster(blanks);
      const bool arrived = WaitUntil([&] { return w.BytesWaiting() == blanks.size(); }, 5000);
      Control<QTimer>(w, "Timer1")->start();
      return written && arrived && WaitUntil([&] { return w.BytesWaiting() == 0; }, 5000);
    };
    QVERIFY(pollTakes("\r\n \t"));
    QVERIFY(pollTakes(std::string(12, ' ')));  // long enough to reach the decoder
    QCOMPARE(LogLines(w).size(), first);
    // A block with one visible byte is logged whole, blanks included.
    QVERIFY(line.WriteMaster(std::string(" A\r\n")));
    QVERIFY(WaitUntil([&] { return LogLines(w).size() > first; }, 2000));
    QCOMPARE(LogTail(w, first), QStringList{kReceived + "20 41 0D 0A "});
  }
};

RTUTEST_QTEST_MAIN(PortTest)
#include "PortTest.moc"
