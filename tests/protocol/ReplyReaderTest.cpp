// Which request a reply answers: the oldest still waiting, up to the give-up time; what a block
// with damaged frames or an unanswered reply shows.
#include <gtest/gtest.h>

#include "ModbusCrc.h"
#include "ReplyReader.h"
#include "RequestFrames.h"

using namespace modbus;  // the protocol layer

namespace {

using Outcome = DecodedResponse::Outcome;
using namespace std::chrono_literals;
const ReplyReader::Clock::time_point t0{};
const ByteString kReply = WithCrc({0x64, 0x03, 0x04, 0x00, 0x01, 0x00, 0x00});

// The status rows a block writes, in order.
std::vector<int> RowsShown(const ReplyReader::Result& result) {
  std::vector<int> rows;
  for (const DecodedResponse& shown : result.shown)
    for (const ChannelValue& channel : shown.channels) rows.push_back(channel.row);
  return rows;
}

TEST(ReplyReader, RepliesAnswerTheOldestWaitingRequestUntilItIsGivenUp) {
  ReplyReader reader;
  reader.Sent(ReadInputBlockRequest(100), t0);
  reader.Sent(ReadOutputBlockRequest(100), t0 + 450ms);
  // Late, after the output request went out, and read while the phase says "outputs".
  EXPECT_EQ(RowsShown(reader.Read(kReply, 100, true, t0 + 1400ms)),
            (std::vector<int>{kRowDI0, kRowDI1}));
  EXPECT_EQ(RowsShown(reader.Read(kReply, 100, false, t0 + 1900ms)),
            (std::vector<int>{kRowDO0, kRowDO1}));
  // A request without a reply is given up: the next reply answers the newer request.
  reader.Sent(ReadInputBlockRequest(100), t0 + 2000ms);
  reader.Sent(ReadOutputBlockRequest(100), t0 + 3000ms);
  EXPECT_EQ(RowsShown(reader.Read(kReply, 100, false, t0 + 3000ms + ReplyReader::kGiveUpAfter)),
            (std::vector<int>{kRowDO0, kRowDO1}));
  // Nothing waits: the read phase decides, for the addressed slave only.
  EXPECT_EQ(RowsShown(reader.Read(kReply, 100, false, t0 + 5000ms)),
            (std::vector<int>{kRowDI0, kRowDI1}));
  EXPECT_TRUE(reader.Read(kReply, 101, false, t0 + 5000ms).shown.empty());
  // A broadcast waits for no reply: what address 0 sends is read by the phase, too.
  reader.Sent(ReadInputBlockRequest(0), t0 + 6000ms);
  EXPECT_EQ(RowsShown(reader.Read(WithCrc({0x00, 0x03, 0x04, 0x00, 0x01, 0x00, 0x00}), 0, true,
                                  t0 + 6100ms)),
            (std::vector<int>{kRowDO0, kRowDO1}));
}

TEST(ReplyReader, AReplyTakesOnlyARequestOfItsSlaveAndFunction) {
  ReplyReader reader;
  reader.Sent(RelayRequest(100, kRelay1Register, true), t0);
  reader.Sent(ReadInputBlockRequest(100), t0 + 10ms);
  // The relay's reply never came; the read's reply answers the read, and gives the relay up.
  EXPECT_EQ(RowsShown(reader.Read(kReply, 100, true, t0 + 50ms)),
            (std::vector<int>{kRowDI0, kRowDI1}));
  const ByteString refused = WithCrc({0x64, 0x90, 0x04});
  EXPECT_EQ(reader.Read(refused, 1, false, t0 + 60ms).shown.size(), 0u);  // not our slave
  reader.Sent(RelayRequest(1, kRelay1Register, true), t0 + 70ms);
  const ByteString refusedByOne = WithCrc({0x01, 0x90, 0x04});
  const ReplyReader::Result result = reader.Read(refusedByOne, 1, false, t0 + 80ms);
  ASSERT_EQ(result.shown.size(), 1u);
  EXPECT_EQ(result.shown[0].outcome, Outcome::Refused);
  EXPECT_EQ(result.shown[0].errorLine,
            "异常应答：功能码10 (write multiple registers)，异常码04 (slave device failure)");
}

TEST(ReplyReader, OneCrcLinePerBlockBesideTheGoodReplies) {
  ReplyReader reader;
  ByteString damaged = kReply;
  damaged[8] ^= 0x01;
  ByteString block = damaged;
  block.insert(block.end(), damaged.begin(), damaged.end());
  block.insert(block.end(), kReply.begin(), kReply.end());
  const ReplyReader::Result result = reader.Read(block, 100, false, t0);
  ASSERT_EQ(result.shown.size(), 2u);
  EXPECT_EQ(result.shown[0].errorLine, kCrcErrorLine);
  EXPECT_EQ(result.shown[1].outcome, Outcome::Decoded);
  // A read reply whose byte count was hit reaches past the block: still a CRC failure.
  ByteString longer = kReply;
  longer[2] = 0x05;
  EXPECT_EQ(reader.Read(longer, 100, false, t0).shown.at(0).outcome, Outcome::CrcError);
  // A whole frame is logged even when none of its bytes is above 0x20; blank noise is not.
  EXPECT_TRUE(reader.Read(WithCrc({0x01, 0x10, 0x00, 0x15, 0x00, 0x01}), 1, false, t0).logged);
  EXPECT_FALSE(reader.Read(ByteString(12, 0x20), 1, false, t0).logged);
  // The first part of a reply split across two polls is no failure.
  EXPECT_TRUE(
      reader.Read(ByteString(kReply.begin(), kReply.begin() + 5), 100, false, t0).shown.empty());
}

}  // namespace
