// Which frame a reply answers: the last one that left before it came; what a block with damaged
// frames or an unanswered reply shows.
#include <gtest/gtest.h>

#include "HexText.h"
#include "ModbusCrc.h"
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
  // Five bytes of the inputs' reply were waiting when the output request left; the rest came
  // after it, then the outputs' reply.
  reader.Sent(ReadRequest(100, kReadRelays), true, 5);
  EXPECT_TRUE(
      reader.Read(xcom::ByteString(kReply.begin(), kReply.begin() + 7), 100, true).shown.empty());
  xcom::ByteString rest(kReply.begin() + 7, kReply.end());
  rest.insert(rest.end(), kReply.begin(), kReply.end());
  EXPECT_EQ(BlocksShown(reader.Read(rest, 100, false)), outputs);
  // Nothing waits after an open, nor after a mode frame or a broadcast: the read phase decides,
  // for the addressed slave only.
  reader.Reset();
  EXPECT_EQ(BlocksShown(reader.Read(kReply, 100, false)), inputs);
  reader.Sent(ReadRequest(100, kReadRelays), true, 0);
  reader.Sent(ModeFrame(0), true, 0);
  EXPECT_TRUE(reader.Read(kReply, 101, false).shown.empty());
  reader.Sent(ReadRequest(0, kReadInputs), true, 0);
  EXPECT_EQ(BlocksShown(reader.Read(WithCrc({0x00, 0x03, 0x04, 0x00, 0x01, 0x00, 0x00}), 0, true)),
            outputs);
}

TEST(ReplyReader, AReplyAnswersOnlyARequestOfItsSlaveAndFunction) {
  ReplyReader reader;
  reader.Sent(RelayRequest(100, kRelay1Register, true), true, 0);
  reader.Sent(ReadRequest(100, kReadInputs), true, 0);
  EXPECT_EQ(BlocksShown(reader.Read(kReply, 100, true)), std::vector{kReadInputs});
  const xcom::ByteString refused = WithCrc({0x64, 0x90, 0x04});
  EXPECT_EQ(reader.Read(refused, 100, false).shown.size(), 0u);  // not the function asked
  reader.Sent(RelayRequest(1, kRelay1Register, true), true, 0);
  EXPECT_EQ(reader.Read(refused, 1, false).shown.size(), 0u);  // not the slave asked
  const ReplyReader::Result result = reader.Read(WithCrc({0x01, 0x90, 0x04}), 1, false);
  ASSERT_EQ(result.shown.size(), 1u);
  EXPECT_EQ(result.shown[0].outcome, Outcome::Refused);
  EXPECT_EQ(result.shown[0].function, 0x10);
  EXPECT_EQ(result.shown[0].exceptionCode, 4);
}

TEST(ReplyReader, OneCrcLinePerBlockBesideTheGoodReplies) {
  ReplyReader reader;
  xcom::ByteString damaged = kReply;
  damaged[8] ^= 0x01;
  xcom::ByteString block = damaged;
  block.insert(block.end(), damaged.begin(), damaged.end());
  block.insert(block.end(), kReply.begin(), kReply.end());
  const ReplyReader::Result result = reader.Read(block, 100, false);
  ASSERT_EQ(result.shown.size(), 2u);
  EXPECT_EQ(result.shown[0].outcome, Outcome::CrcError);
  EXPECT_EQ(result.shown[1].outcome, Outcome::Decoded);
  // A read reply whose byte count was hit reaches past the block: still a CRC failure.
  xcom::ByteString longer = kReply;
  longer[2] = 0x05;
  EXPECT_EQ(reader.Read(longer, 100, false).shown.at(0).outcome, Outcome::CrcError);
  // A whole frame is logged even when none of its bytes is above 0x20; blank noise is not.
  EXPECT_TRUE(reader.Read(WithCrc({0x01, 0x10, 0x00, 0x15, 0x00, 0x01}), 1, false).logged);
  EXPECT_FALSE(reader.Read(xcom::ByteString(12, 0x20), 1, false).logged);
  // The first part of a reply split across two polls is no failure.
  EXPECT_TRUE(
      reader.Read(xcom::ByteString(kReply.begin(), kReply.begin() + 5), 100, false).shown.empty());
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
    const ReplyReader::Result result = reader.Read(received, 100, false);
    EXPECT_EQ(result.shown.size(), &sent == &sentAndReceived[0].first) << BytesToHexText(received);
  }
}

// Eleven bytes whose byte count says four and whose CRC holds over all of them: the reply as it
// stands, decoded, not taken for a damaged one.
TEST(ReplyReader, AReadReplyLongerThanItsByteCountWithItsCrcOverAllIsDecoded) {
  ReplyReader reader;
  reader.Sent(ReadRequest(100, kReadInputs), true, 0);
  const ReplyReader::Result result =
      reader.Read(WithCrc({0x64, 0x03, 0x04, 0x00, 0x01, 0x00, 0x00, 0x12, 0x34}), 100, false);
  ASSERT_EQ(result.shown.size(), 1u);
  EXPECT_EQ(result.shown[0].outcome, Outcome::Decoded);
  EXPECT_EQ(result.shown[0].registers, (std::vector<std::uint16_t>{1, 0}));
}

}  // namespace
