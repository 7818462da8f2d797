// Which frame a reply answers: the last one that left before it came; what a block with damaged
// frames or an unanswered reply shows.
#include <gtest/gtest.h>

#include "ModbusCrc.h"
#include "ReplyReader.h"
#include "RequestFrames.h"

using namespace modbus;  // the protocol layer

namespace {

using Outcome = DecodedResponse::Outcome;
const ByteString kReply = WithCrc({0x64, 0x03, 0x04, 0x00, 0x01, 0x00, 0x00});

// The status rows a block writes, in order.
std::vector<int> RowsShown(const ReplyReader::Result& result) {
  std::vector<int> rows;
  for (const DecodedResponse& shown : result.shown)
    for (const ChannelValue& channel : shown.channels) rows.push_back(channel.row);
  return rows;
}

TEST(ReplyReader, BytesAnswerTheFrameThatLeftLastBeforeThem) {
  ReplyReader reader;
  const ByteString output = WithCrc({0x64, 0x03, 0x04, 0x00, 0x00, 0x00, 0x01});
  reader.Sent(ReadInputBlockRequest(100), true, 0);
  // The inputs' reply was waiting when the output request left; both are read in one block.
  reader.Sent(ReadOutputBlockRequest(100), true, kReply.size());
  ByteString both = kReply;
  both.insert(both.end(), output.begin(), output.end());
  EXPECT_EQ(RowsShown(reader.Read(both, 100, true)),
            (std::vector<int>{kRowDI0, kRowDI1, kRowDO0, kRowDO1}));
  // The inputs' reply was lost: the next reply answers the output request, whatever the phase.
  reader.Sent(ReadInputBlockRequest(100), true, 0);
  reader.Sent(ReadOutputBlockRequest(100), true, 0);
  EXPECT_EQ(RowsShown(reader.Read(output, 100, false)), (std::vector<int>{kRowDO0, kRowDO1}));
  // A reply split over two reads, the boundary falling in its second part.
  reader.Sent(ReadInputBlockRequest(100), true, 0);
  EXPECT_TRUE(
      reader.Read(ByteString(kReply.begin(), kReply.begin() + 5), 100, false).shown.empty());
  reader.Sent(ReadOutputBlockRequest(100), true, 4);
  EXPECT_TRUE(reader.Read(ByteString(kReply.begin() + 5, kReply.end()), 100, false).shown.empty());
  // Nothing waits after an open, nor after a mode frame: the read phase decides, for the
  // addressed slave only.
  reader.Sent(ReadOutputBlockRequest(100), true, 0);
  reader.Reset();
  EXPECT_EQ(RowsShown(reader.Read(kReply, 100, false)), (std::vector<int>{kRowDI0, kRowDI1}));
  reader.Sent(ReadOutputBlockRequest(100), true, 0);
  reader.Sent(ModeFrame(0), true, 0);
  EXPECT_EQ(RowsShown(reader.Read(kReply, 100, false)), (std::vector<int>{kRowDI0, kRowDI1}));
  EXPECT_TRUE(reader.Read(kReply, 101, false).shown.empty());
  // A broadcast waits for no reply: what address 0 sends is read by the phase, too.
  reader.Sent(ReadInputBlockRequest(0), true, 0);
  EXPECT_EQ(RowsShown(reader.Read(WithCrc({0x00, 0x03, 0x04, 0x00, 0x01, 0x00, 0x00}), 0, true)),
            (std::vector<int>{kRowDO0, kRowDO1}));
}

TEST(ReplyReader, AReplyAnswersOnlyARequestOfItsSlaveAndFunction) {
  ReplyReader reader;
  reader.Sent(RelayRequest(100, kRelay1Register, true), true, 0);
  reader.Sent(ReadInputBlockRequest(100), true, 0);
  EXPECT_EQ(RowsShown(reader.Read(kReply, 100, true)), (std::vector<int>{kRowDI0, kRowDI1}));
  EXPECT_TRUE(reader.Read(WithCrc({0x64, 0x90, 0x04}), 100, false).shown.empty());
  reader.Sent(RelayRequest(1, kRelay1Register, true), true, 0);
  EXPECT_TRUE(reader.Read(WithCrc({0x64, 0x90, 0x04}), 1, false).shown.empty());
  const ReplyReader::Result result = reader.Read(WithCrc({0x01, 0x90, 0x04}), 1, false);
  ASSERT_EQ(result.shown.size(), 1u);
  EXPECT_EQ(result.shown[0].outcome, Outcome::Refused);
  EXPECT_EQ(result.shown[0].errorLine,
            "异常应答：功能码10 (write multiple registers)，异常码04 (slave device failure)");
  // A frame that did not leave whole is no request.
  reader.Sent(ReadOutputBlockRequest(100), false, 0);
  EXPECT_TRUE(reader.Read(kReply, 101, true).shown.empty());
}

TEST(ReplyReader, OneCrcLinePerBlockBesideTheGoodReplies) {
  ReplyReader reader;
  ByteString damaged = kReply;
  damaged[8] ^= 0x01;
  ByteString block = damaged;
  block.insert(block.end(), damaged.begin(), damaged.end());
  block.insert(block.end(), kReply.begin(), kReply.end());
  const ReplyReader::Result result = reader.Read(block, 100, false);
  ASSERT_EQ(result.shown.size(), 2u);
  EXPECT_EQ(result.shown[0].errorLine, kCrcErrorLine);
  EXPECT_EQ(result.shown[1].outcome, Outcome::Decoded);
  // A read reply whose byte count was hit reaches past the block: still a CRC failure.
  ByteString longer = kReply;
  longer[2] = 0x05;
  EXPECT_EQ(reader.Read(longer, 100, false).shown.at(0).outcome, Outcome::CrcError);
  // A whole frame is logged even when none of its bytes is above 0x20; blank noise is not.
  EXPECT_TRUE(reader.Read(WithCrc({0x01, 0x10, 0x00, 0x15, 0x00, 0x01}), 1, false).logged);
  EXPECT_FALSE(reader.Read(ByteString(12, 0x20), 1, false).logged);
  // The first part of a reply split across two polls is no failure.
  EXPECT_TRUE(
      reader.Read(ByteString(kReply.begin(), kReply.begin() + 5), 100, false).shown.empty());
}

// Only a damaged read reply of the slave asked, long enough to be decoded, logs the CRC line.
TEST(ReplyReader, TheCrcLineIsForADamagedReadReplyOnly) {
  const ByteString relayOn = RelayRequest(100, kRelay1Register, true);
  ByteString flippedRelayReply = WithCrc({0x64, 0x10, 0x00, 0x14, 0x00, 0x01});
  flippedRelayReply[4] ^= 0x01;
  ByteString flippedReadReply = kReply;
  flippedReadReply[4] ^= 0x01;
  const struct {
    const char* name;
    ByteString sent;  // empty: nothing since the open
    ByteString block;
    bool crcLine;
  } cases[] = {
      {"a damaged read reply", ReadInputBlockRequest(100), flippedReadReply, true},
      {"nothing asked: the addressed slave", {}, flippedReadReply, true},
      {"nine bytes of a write", {}, {0x64, 0x10, 0x00, 0x14, 0x00, 0x01, 0x02, 0x00, 0x01}, false},
      {"an exception head", {}, {0x64, 0x83, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}, false},
      {"another read function", {}, {0x64, 0x04, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}, false},
      {"a relay reply with a bit flipped", relayOn, flippedRelayReply, false},
      {"nine bytes of the echoed relay frame", relayOn,
       ByteString(relayOn.begin(), relayOn.begin() + 9), false},
      {"a read reply of another slave", ReadInputBlockRequest(101), flippedReadReply, false},
  };
  for (const auto& c : cases) {
    ReplyReader reader;
    if (!c.sent.empty()) reader.Sent(c.sent, true, 0);
    const ReplyReader::Result result = reader.Read(c.block, 100, false);
    EXPECT_EQ(!result.shown.empty() && result.shown[0].errorLine == kCrcErrorLine, c.crcLine)
        << c.name;
  }
}

}  // namespace
