// Which frame a reply answers: the last one that left before it came; what a block with damaged
// frames or an unanswered reply shows.
#include <gtest/gtest.h>

#include "HexText.h"
#include "ModbusCrc.h"
#include "ReplyLedger.h"
#include "ReplyReader.h"
#include "RequestFrames.h"

using namespace modbus;  // the protocol layer

namespace {

using Outcome = DecodedResponse::Outcome;
const xcom::ByteString kReply = WithCrc({0x64, 0x03, 0x04, 0x00, 0x01, 0x00, 0x00});

// The reads a block shows the values of, in order.
std::vector<RegisterRead> BlocksShown(const ReplyReader::Result& result) {
  std::vector<RegisterRead> blocks;
  for (const DecodedResponse& shown : result.shown)
    if (shown.outcome == Outcome::Decoded) blocks.push_back(shown.read);
  return blocks;
}

TEST(ReplyReader, BytesAnswerTheFrameThatLeftLastBeforeThem) {
  ReplyReader reader;
  const std::vector<RegisterRead> inputs{kReadInputs}, outputs{kReadRelays};
  reader.Sent(ReadRequest(100, kReadInputs), true, 0);
  // The inputs' reply was waiting when the output request left: it cannot answer that one.
  reader.Sent(ReadRequest(100, kReadRelays), true, kReply.size());
  xcom::ByteString both = kReply;
  both.insert(both.end(), kReply.begin(), kReply.end());
  const ReplyReader::Result inOrder = reader.Read(both);
  EXPECT_EQ(BlocksShown(inOrder), (std::vector{kReadInputs, kReadRelays}));
  // Both left before a reply came: the first may answer either, the second is the relays'.
  reader.Sent(ReadRequest(100, kReadInputs), true, 0);
  reader.Sent(ReadRequest(100, kReadRelays), true, 0);
  const ReplyReader::Result first = reader.Read(kReply);
  ASSERT_EQ(first.shown.size(), 1u);
  EXPECT_EQ(first.shown[0].outcome, Outcome::InDoubt);
  EXPECT_EQ(BlocksShown(reader.Read(kReply)), outputs);
  // Nothing waits after an open, nor after a mode frame or a broadcast.
  reader.Reset();
  EXPECT_TRUE(reader.Read(kReply).shown.empty());
  reader.Sent(ModeFrame(0), true, 0);
  reader.Sent(ReadRequest(0, kReadInputs), true, 0);
  EXPECT_TRUE(reader.Read(WithCrc({0x00, 0x03, 0x04, 0x00, 0x01, 0x00, 0x00})).shown.empty());
  reader.Sent(ReadRequest(100, kReadInputs), true, 0);
  EXPECT_EQ(BlocksShown(reader.Read(kReply)), inputs);
}

TEST(ReplyReader, AReplyAnswersOnlyARequestOfItsSlaveAndFunction) {
  ReplyReader reader;
  reader.Sent(RelayRequest(100, kRelay1Register, true), true, 0);
  reader.Sent(ReadRequest(100, kReadInputs), true, 0);
  EXPECT_EQ(BlocksShown(reader.Read(kReply)), std::vector{kReadInputs});
  const xcom::ByteString refused = WithCrc({0x64, 0x90, 0x04});
  EXPECT_EQ(reader.Read(refused).shown.size(), 0u);  // not the function asked
  reader.Sent(RelayRequest(1, kRelay1Register, true), true, 0);
  EXPECT_EQ(reader.Read(refused).shown.size(), 0u);  // not the slave asked
  const ReplyReader::Result result = reader.Read(WithCrc({0x01, 0x90, 0x04}));
  ASSERT_EQ(result.shown.size(), 1u);
  EXPECT_EQ(result.shown[0].outcome, Outcome::Refused);
  EXPECT_EQ(result.shown[0].function, 0x10);
  EXPECT_EQ(result.shown[0].exceptionCode, 4);
}

TEST(ReplyReader, OneCrcLinePerBlockBesideTheGoodReplies) {
  ReplyReader reader;
  for (int sent = 0; sent < 3; ++sent) reader.Sent(ReadRequest(100, kReadInputs), true, 0);
  xcom::ByteString damaged = kReply;
  damaged[8] ^= 0x01;
  xcom::ByteString block = damaged;
  block.insert(block.end(), damaged.begin(), damaged.end());
  block.insert(block.end(), kReply.begin(), kReply.end());
  const ReplyReader::Result result = reader.Read(block);
  ASSERT_EQ(result.shown.size(), 2u);
  EXPECT_EQ(result.shown[0].outcome, Outcome::CrcError);
  EXPECT_EQ(result.shown[1].outcome, Outcome::Decoded);
  // A read reply whose byte count was hit reaches past the block: still a CRC failure.
  xcom::ByteString longer = kReply;
  longer[2] = 0x05;
  EXPECT_EQ(reader.Read(longer).shown.at(0).outcome, Outcome::CrcError);
  // A whole frame is logged even when none of its bytes is above 0x20; blank noise is not.
  EXPECT_TRUE(reader.Read(WithCrc({0x01, 0x10, 0x00, 0x15, 0x00, 0x01})).logged);
  EXPECT_FALSE(reader.Read(xcom::ByteString(12, 0x20)).logged);
  // The first part of a reply split across two polls is no failure.
  EXPECT_TRUE(reader.Read(xcom::ByteString(kReply.begin(), kReply.begin() + 5)).shown.empty());
}

// Only a damaged read reply long enough to be decoded logs the CRC line, whatever request
// waits (its address may be the damaged byte): not nine bytes of a write, an exception head,
// another read function, a relay reply with a bit flipped or a cut-off echo.
TEST(ReplyReader, TheCrcLineIsForADamagedReadReplyOnly) {
  const xcom::ByteString relayOn = RelayRequest(100, kRelay1Register, true);
  const auto flipped = [](xcom::ByteString frame) { return frame[4] ^= 0x01, frame; };
  const std::pair<xcom::ByteString, xcom::ByteString> sentAndReceived[] = {
      {ReadRequest(100, kReadInputs), flipped(kReply)},  // the one case with a CRC line
      {{}, {0x64, 0x10, 0x00, 0x14, 0x00, 0x01, 0x02, 0x00, 0x01}},
      {{}, {0x64, 0x83, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}},
      {{}, {0x64, 0x04, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}},
      {relayOn, flipped(WithCrc({0x64, 0x10, 0x00, 0x14, 0x00, 0x01}))},
      {relayOn, xcom::ByteString(relayOn.begin(), relayOn.begin() + 9)}};
  for (const auto& [sent, received] : sentAndReceived) {
    ReplyReader reader;
    if (!sent.empty()) reader.Sent(sent, true, 0);
    const ReplyReader::Result result = reader.Read(received);
    EXPECT_EQ(result.shown.size(), &sent == &sentAndReceived[0].first) << BytesToHexText(received);
  }
}

// Eleven bytes whose byte count says four and whose CRC holds over all of them: the reply as it
// stands, decoded, not taken for a damaged one.
TEST(ReplyReader, AReadReplyLongerThanItsByteCountWithItsCrcOverAllIsDecoded) {
  ReplyReader reader;
  reader.Sent(ReadRequest(100, kReadInputs), true, 0);
  const ReplyReader::Result result =
      reader.Read(WithCrc({0x64, 0x03, 0x04, 0x00, 0x01, 0x00, 0x00, 0x12, 0x34}));
  ASSERT_EQ(result.shown.size(), 1u);
  EXPECT_EQ(result.shown[0].outcome, Outcome::Decoded);
  EXPECT_EQ(result.shown[0].registers, (std::vector<std::uint16_t>{1, 0}));
}

// The rule on its own: a reply answers a request only when every request it may answer asks the
// same; requests are given up only on a quiet line, whose span learns the slowest reply.
TEST(ReplyLedger, AReplyAnswersOnlyWhenNoOtherRequestCouldHaveIt) {
  using Verdict = ReplyLedger::Verdict;
  using namespace std::chrono_literals;
  const auto t0 = ReplyLedger::Clock::now();
  const xcom::ByteString inputs = ReadRequest(100, kReadInputs);
  ReplyLedger ledger(100ms);
  ledger.Sent(inputs, t0);
  ledger.Sent(inputs, t0 + 100ms);  // asked again
  const ReplyLedger::Attribution again = ledger.Take(kReply, t0 + 150ms);
  EXPECT_EQ(again.verdict, Verdict::Answers);
  EXPECT_EQ(again.request, inputs);
  EXPECT_TRUE(ledger.Owes());                       // the second may still be answered
  EXPECT_EQ(ledger.QuietAt(), t0 + 150ms + 150ms);  // the slowest reply it may be
  ledger.Sent(ReadRequest(100, kReadRelays), t0 + 200ms);
  EXPECT_EQ(ledger.Take(kReply, t0 + 250ms).verdict, Verdict::InDoubt);
  EXPECT_EQ(ledger.Take(kReply, t0 + 260ms).verdict, Verdict::Answers);  // the relays' alone
  EXPECT_EQ(ledger.Take(kReply, t0 + 270ms).verdict, Verdict::Unasked);
  ledger.Sent(inputs, t0 + 300ms);
  EXPECT_FALSE(ledger.GiveUpIfQuiet(t0 + 400ms));
  EXPECT_TRUE(ledger.GiveUpIfQuiet(t0 + 450ms));
  // A write's echo names its register: relay 1's cannot answer relay 2's write.
  ledger.Sent(RelayRequest(100, kRelay1Register, true), t0 + 700ms);
  ledger.Sent(RelayRequest(100, kRelay2Register, true), t0 + 700ms);
  EXPECT_EQ(ledger.Take(WithCrc({0x64, 0x10, 0x00, 0x15, 0x00, 0x01}), t0 + 710ms).verdict,
            Verdict::Answers);
}

}  // namespace
