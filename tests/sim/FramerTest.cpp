// Framing like an RTU slave, on a fake clock: expected lengths, silence, garbage, joins.
#include <gtest/gtest.h>

#include "RequestFramer.h"
#include "SimTestSupport.h"

using namespace modbus;  // the protocol layer

namespace {

using kestrum_sim::FramerEvent;
using kestrum_sim::LineSettings;
using kestrum_sim::RequestFramer;
using kestrum_sim::SilenceFor;
using Kind = FramerEvent::Kind;
using std::chrono::microseconds;
using std::chrono::milliseconds;

const xcom::ByteString kReadInputs = simtest::ReadRequest(100, 0x10, 2);
const xcom::ByteString kReadOutputs = simtest::ReadRequest(100, 0x14, 2);
const xcom::ByteString kRelayOn = simtest::RelayRequest(100, 0x14, 1);
const xcom::ByteString kModeZero = {0xAA, 0x55, 0x00, 0x05, 0xE0, 0x50, 0x00, 0x01, 0x35};

xcom::ByteString Join(std::initializer_list<xcom::ByteString> parts) {
  xcom::ByteString all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}
xcom::ByteString Slice(const xcom::ByteString& bytes, std::size_t from, std::size_t to) {
  return xcom::ByteString(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                          bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

class Framer : public ::testing::Test {
 protected:
  // 9600 8N1: 3.5 characters of 10 bits = 3646 microseconds.
  RequestFramer framer{SilenceFor(LineSettings{})};
  kestrum_sim::Clock::time_point t0{};
  kestrum_sim::Clock::time_point At(microseconds offset) { return t0 + offset; }
};

TEST(FramerSilence, ThreeAndAHalfCharactersAtTheLineSettingsWithAFloor) {
  EXPECT_EQ(SilenceFor(LineSettings{9600, 8, kestrum_sim::Parity::None, 1}), microseconds(3646));
  // 8E2 has 12 bits per character.
  EXPECT_EQ(SilenceFor(LineSettings{1200, 8, kestrum_sim::Parity::Even, 2}), microseconds(35000));
  EXPECT_EQ(SilenceFor(LineSettings{300, 7, kestrum_sim::Parity::None, 1}), microseconds(105000));
  // 19200 8N1 would be 1823 us: the floor applies.
  EXPECT_EQ(SilenceFor(LineSettings{19200, 8, kestrum_sim::Parity::None, 1}),
            kestrum_sim::kMinimumSilence);
  EXPECT_EQ(SilenceFor(LineSettings{115200, 8, kestrum_sim::Parity::None, 1}),
            kestrum_sim::kMinimumSilence);
}

TEST_F(Framer, CompleteRequestsAreReadyAtTheirExpectedLengthWithoutWaiting) {
  for (const xcom::ByteString& frame : {kReadInputs, kRelayOn, kModeZero}) {
    SCOPED_TRACE(simtest::Hex(frame));
    const auto events = framer.Feed(frame, At(microseconds(0)));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, frame == kModeZero ? Kind::ModeFrame : Kind::Request);
    EXPECT_EQ(events[0].bytes, frame);
    EXPECT_EQ(framer.Buffered(), 0u);
    EXPECT_FALSE(framer.Deadline().has_value());
  }
}

TEST_F(Framer, RequestArrivingInPiecesWithinTheSilenceIsJoined) {
  // One byte at a time, 1 ms apart (less than 3.6 ms).
  std::vector<FramerEvent> all;
  for (std::size_t i = 0; i < kRelayOn.size(); ++i) {
    auto events = framer.Feed(Slice(kRelayOn, i, i + 1), At(milliseconds(i)));
    auto polled = framer.Poll(At(milliseconds(i) + microseconds(900)));
    all.insert(all.end(), events.begin(), events.end());
    all.insert(all.end(), polled.begin(), polled.end());
  }
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0], (FramerEvent{Kind::Request, kRelayOn}));
}

TEST_F(Framer, PartialFrameFollowedBySilenceIsDropped) {
  EXPECT_TRUE(framer.Feed(Slice(kReadInputs, 0, 5), At(microseconds(0))).empty());
  ASSERT_TRUE(framer.Deadline().has_value());
  EXPECT_EQ(*framer.Deadline(), At(microseconds(3646)));
  EXPECT_TRUE(framer.Poll(At(microseconds(3000))).empty());  // not silent long enough yet
  const auto events = framer.Poll(At(microseconds(3646)));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], (FramerEvent{Kind::Discarded, Slice(kReadInputs, 0, 5)}));
  // The rest of the frame after the silence is no frame either.
  EXPECT_TRUE(framer.Feed(Slice(kReadInputs, 5, 8), At(milliseconds(10))).empty());
  const auto rest = framer.Poll(At(milliseconds(20)));
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_EQ(rest[0].kind, Kind::Discarded);
}

TEST_F(Framer, SilenceNoticedOnlyWhenTheNextBytesArriveStillEndsTheOldFrame) {
  // No Poll in between: the framer sees the gap from the time stamps alone.
  EXPECT_TRUE(framer.Feed(Slice(kReadInputs, 0, 4), At(microseconds(0))).empty());
  const auto events = framer.Feed(kReadOutputs, At(milliseconds(50)));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], (FramerEvent{Kind::Discarded, Slice(kReadInputs, 0, 4)}));
  EXPECT_EQ(events[1], (FramerEvent{Kind::Request, kReadOutputs}));
}

TEST_F(Framer, GarbageBeforeAValidFrameIsSkippedWithoutLosingTheFrame) {
  // Stray bytes that look like the start of frames of known length, and noise.
  for (const xcom::ByteString& garbage :
       {xcom::ByteString{0xFF}, xcom::ByteString{0x00, 0x00}, xcom::ByteString{0x64, 0x10},
        xcom::ByteString{0x64, 0x03, 0x00}, xcom::ByteString{0xAA, 0x55},
        xcom::ByteString{0x01, 0x10, 0, 0, 0, 0, 0xF0}, Slice(kRelayOn, 0, 10)}) {
    SCOPED_TRACE(simtest::Hex(garbage));
    RequestFramer fresh(SilenceFor(LineSettings{}));
    const auto events = fresh.Feed(Join({garbage, kReadInputs}), At(microseconds(0)));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], (FramerEvent{Kind::Discarded, garbage}));
    EXPECT_EQ(events[1], (FramerEvent{Kind::Request, kReadInputs}));
  }
}

TEST_F(Framer, RequestWithABadCrcIsDiscardedAndTheNextOneStillFound) {
  xcom::ByteString corrupt = kReadInputs;
  corrupt[7] ^= 0x01;
  const auto events = framer.Feed(Join({corrupt, kReadOutputs}), At(microseconds(0)));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], (FramerEvent{Kind::Discarded, corrupt}));
  EXPECT_EQ(events[1], (FramerEvent{Kind::Request, kReadOutputs}));
}

TEST_F(Framer, JoinedRequestsAreCutApartInOrder) {
  const auto events =
      framer.Feed(Join({kModeZero, kReadInputs, kRelayOn, kReadOutputs}), At(microseconds(0)));
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0], (FramerEvent{Kind::ModeFrame, kModeZero}));
  EXPECT_EQ(events[1], (FramerEvent{Kind::Request, kReadInputs}));
  EXPECT_EQ(events[2], (FramerEvent{Kind::Request, kRelayOn}));
  EXPECT_EQ(events[3], (FramerEvent{Kind::Request, kReadOutputs}));
}

TEST_F(Framer, FrameOfUnknownFunctionEndsAtTheSilence) {
  const xcom::ByteString unknown = WithCrc({0x64, 0x41, 0x01, 0x02, 0x03});
  EXPECT_TRUE(framer.Feed(unknown, At(microseconds(0))).empty());
  const auto events = framer.Poll(At(milliseconds(4)));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], (FramerEvent{Kind::Request, unknown}));
}

TEST_F(Framer, ModeFrameIsTakenWhateverItsCheckSum) {
  xcom::ByteString bad = kModeZero;
  bad[8] = 0x99;
  const auto events = framer.Feed(bad, At(microseconds(0)));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], (FramerEvent{Kind::ModeFrame, bad}));
}

TEST_F(Framer, FreeTextIsReportedAsOneDiscardedBlockAtTheSilence) {
  const xcom::ByteString text = xcom::BytesOf("hello, module\r\n");
  EXPECT_TRUE(framer.Feed(text, At(microseconds(0))).empty());
  const auto events = framer.Poll(At(milliseconds(5)));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], (FramerEvent{Kind::Discarded, text}));
}

TEST_F(Framer, EndlessNoiseWithoutSilenceKeepsMemoryBoundedAndAFrameIsStillFound) {
  std::size_t discarded = 0;
  // 0x41 is no function code of known length, so nothing ends the noise but its amount.
  for (int i = 0; i < 100; ++i) {
    for (const auto& event : framer.Feed(xcom::ByteString(100, 0x41), At(microseconds(i * 100)))) {
      EXPECT_EQ(event.kind, Kind::Discarded);
      discarded += event.bytes.size();
    }
    EXPECT_LE(framer.Buffered(), 2 * RequestFramer::kMaxFrame);
  }
  EXPECT_GT(discarded, 5000u);
  const auto events = framer.Feed(kReadInputs, At(milliseconds(10)));
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), (FramerEvent{Kind::Request, kReadInputs}));
}

}  // namespace
