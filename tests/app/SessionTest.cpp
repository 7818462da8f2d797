// The command sequences without a window: a session on the simulated module's line, its waits
// and what it shows recorded; and how the window words a decoded reply.
#include <QTest>
#include <chrono>

#include "AppTestSupport.h"
#include "RecordedSession.h"
#include "ResponseText.h"
#include "RtuSession.h"

using namespace modbus;
using namespace std::chrono_literals;

namespace {

const QString kSent = QStringLiteral(" 发送：");
const QString kModeZero = kSent + QStringLiteral("AA 55 00 05 E0 50 00 01 35 ");
const QString kModeOne = kSent + QStringLiteral("AA 55 00 05 E0 50 01 01 36 ");

}  // namespace

class SessionTest : public QObject {
  Q_OBJECT

 private slots:
  void relayCommandsAndTheModeFramesAroundTheFreeText() {
    SimulatedModuleOnPty module;
    xcom::TXComm port;
    TRecordedView view;
    TRecordedWaits waits;
    TRtuSession session(port, view, waits);
    session.OpenPort({module.Path(), QStringLiteral("9600"), QStringLiteral("8N1")});
    QCOMPARE(view.openReport, module.Path());
    QCOMPARE(view.lines, QStringList{kModeZero});
    QCOMPARE(waits.steps, (QStringList{"sleep 500", "pump"}));
    const auto sendsSince = [&](qsizetype first) {
      QStringList sent;
      for (const QString& line : view.lines.mid(first))
        if (line.startsWith(kSent)) sent << line;
      return sent;
    };
    waits.steps.clear();
    session.SwitchRelay(kRelay1Register, true, true);  // control mode already: the frame only
    QCOMPARE(sendsSince(1), QStringList{kSent + "64 10 00 14 00 01 02 00 01 F3 D6 "});
    QCOMPARE(waits.steps, (QStringList{"sleep 200", "sleep 200"}));
    session.SendFreeText(QStringLiteral("中文"));
    QCOMPARE(session.DeviceMode, 1);
    session.SendFreeText(QStringLiteral("中文"));  // a second free text: no mode frame
    session.SendFreeText(QString());               // empty text: a line with nothing after
    waits.steps.clear();
    session.SwitchRelay(kRelay1Register, false, true);  // back to control mode first
    QCOMPARE(waits.steps, (QStringList{"sleep 200", "sleep 500", "pump", "sleep 200"}));
    QCOMPARE(sendsSince(1), (QStringList{kSent + "64 10 00 14 00 01 02 00 01 F3 D6 ", kModeOne,
                                         kSent + "D6 D0 CE C4 ", kSent + "D6 D0 CE C4 ", kSent,
                                         kModeZero, kSent + "64 10 00 14 00 01 02 00 00 32 16 "}));
    // The hidden relay 3 and 4 commands send without waiting.
    waits.steps.clear();
    session.SwitchRelay(kRelay4Register, true, false);
    session.SwitchRelay(kRelay3Register, false, false);
    QVERIFY(waits.steps.isEmpty());
    QCOMPARE(sendsSince(1).mid(7), (QStringList{kSent + "64 10 00 17 00 01 02 00 01 F3 E5 ",
                                                kSent + "64 10 00 16 00 01 02 00 00 33 F4 "}));
    QVERIFY(module.Sim().WaitFor([](auto& c) { return c.freeTextBlocks >= 1; },
                                 std::chrono::seconds(3)));
    QTRY_COMPARE(module.Sim().State().relays[3], std::uint16_t(1));
  }

  // The window keeps the design's timings with a module slower than the read-all's 450 ms gap,
  // or one spike: a reply that may answer either read shows nothing and logs a note; no row
  // ever shows the other read's values (inputs 1,0, relays off).
  void aLateReplyShowsNoValueOfTheWrongRead() {
    const std::pair<std::vector<std::chrono::milliseconds>, bool> rows[] = {
        {{600ms, 600ms, 600ms, 600ms}, true}, {{0ms, 0ms, 700ms}, true}};
    for (const auto& [latency, noted] : rows) {
      kestrum_sim::Simulator::Options options;
      options.module.inputs = {1, 0};
      options.faults.latency = latency;
      SimulatedModuleOnPty module(options);
      xcom::TXComm port;
      TRecordedView view;
      TRecordedWaits waits;
      TRtuSession session(port, view, waits);
      waits.duringPump = [&] { session.Poll(); };
      session.OpenPort({module.Path(), QStringLiteral("9600"), QStringLiteral("8N1")});
      for (int i = 0; i < 2; ++i) {
        session.ReadAll();
        for (int tick = 0; tick < 10; ++tick) waits.ProcessMessages(), waits.Sleep(100);
      }
      QVERIFY(!view.lines.contains(QStringLiteral("DO1=01 ")));
      QVERIFY(!view.lines.contains(QStringLiteral("DI1=00 ")));
      QCOMPARE(view.lines.contains(QString::fromUtf8(kReplyInDoubtLine)), noted);
      QCOMPARE(view.cells[kRowDO0], QStringLiteral("00 "));
    }
  }

  // The window's wording of each outcome: the log counts channels from 1, the list from 0, and
  // a cell shows a register's low byte.
  void decodedRepliesAreWordedAsTheWindowShowsThem() {
    using Outcome = DecodedResponse::Outcome;
    DecodedResponse inputs;
    inputs.outcome = Outcome::Decoded;
    inputs.read = kReadInputs;
    inputs.registers = {0x0102, 0x0000};
    DecodedResponse outputs = inputs;
    outputs.read = kReadRelays;
    outputs.registers = {0x0000, 0x00E1};
    DecodedResponse unlisted = outputs;  // relays 3 and 4 have no row in the list
    unlisted.read = {kRelay3Register, 2};
    DecodedResponse damaged;
    damaged.outcome = Outcome::CrcError;
    DecodedResponse refused;
    refused.outcome = Outcome::Refused;
    refused.function = 0x10;
    refused.exceptionCode = 0x02;
    const struct {
      DecodedResponse decoded;
      QString errorLine;
      std::vector<TChannelText> channels;
    } cases[] = {
        {inputs, {}, {{"DI1=02 ", kRowDI0, "02 "}, {"DI2=00 ", kRowDI1, "00 "}}},
        {outputs, {}, {{"DO1=00 ", kRowDO0, "00 "}, {"DO2=E1 ", kRowDO1, "E1 "}}},
        {unlisted, {}, {{"DO3=00 ", kNoRow, "00 "}, {"DO4=E1 ", kNoRow, "E1 "}}},
        {damaged, QStringLiteral("CRC校验失败！"), {}},
        {refused,
         QStringLiteral(
             "异常应答：功能码10 (write multiple registers)，异常码02 (illegal data address)"),
         {}},
        {DecodedResponse{}, {}, {}},
    };
    for (const auto& c : cases) {
      const TResponseText text = ResponseText(c.decoded);
      QCOMPARE(text.errorLine, c.errorLine);
      QVERIFY(text.channels == c.channels);
    }
  }
};

RTUTEST_QTEST_MAIN(SessionTest)
#include "SessionTest.moc"
