// Reply framing: frame lengths from the first bytes, a received block cut into frames (stray
// bytes, the echo of the own request, joined and damaged replies), exception codes in words.
#include <gtest/gtest.h>

#include <string>

#include "HexText.h"
#include "ModbusCrc.h"
#include "ReplyFraming.h"
#include "RequestFrames.h"

using namespace modbus;  // the protocol layer

namespace {

xcom::ByteString Hex(const std::string& text) {
  xcom::ByteString bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 3)
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

using Kind = RtuPiece::Kind;
const xcom::ByteString kInputReply = Hex("64 03 04 00 01 00 00 9E F5 ");
const xcom::ByteString kOutputReply = Hex("64 03 04 00 00 00 01 0E F5 ");

std::string Describe(const std::vector<RtuPiece>& pieces) {
  static const char* const names[] = {"Reply", "Echo", "Damaged", "Partial", "Noise"};
  std::string text;
  for (const RtuPiece& piece : pieces)
    text +=
        std::string(names[static_cast<int>(piece.kind)]) + "[" + BytesToHexText(piece.bytes) + "]";
  return text;
}

std::string Split(const xcom::ByteString& block, std::vector<xcom::ByteString> sent = {}) {
  return Describe(SplitRtuBlock(block, sent));
}

xcom::ByteString Joined(xcom::ByteString a, const xcom::ByteString& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(ReplyLength, FromFunctionCodeAndByteCount) {
  EXPECT_EQ(ExpectedReplyLength(Hex("64 03 04 ")), 9u);
  EXPECT_EQ(ExpectedReplyLength(Hex("01 04 FA ")), 255u);
  EXPECT_EQ(ExpectedReplyLength(Hex("01 01 01 ")), 6u);  // coils and discrete inputs
  EXPECT_EQ(ExpectedReplyLength(Hex("01 02 01 ")), 6u);
  EXPECT_EQ(ExpectedReplyLength(Hex("01 10 ")), 8u);
  EXPECT_EQ(ExpectedReplyLength(Hex("01 06 ")), 8u);
  EXPECT_EQ(ExpectedReplyLength(Hex("01 0F ")), 8u);
  EXPECT_EQ(ExpectedReplyLength(Hex("01 05 ")), 8u);
  EXPECT_EQ(ExpectedReplyLength(Hex("01 83 ")), 5u);
  EXPECT_EQ(ExpectedReplyLength(Hex("01 90 ")), 5u);
  // Too few bytes to tell: wait for more.
  EXPECT_EQ(ExpectedReplyLength(Hex("64 03 ")), std::nullopt);
  EXPECT_EQ(ExpectedReplyLength(Hex("64 ")), std::nullopt);
  EXPECT_TRUE(IsKnownReplyFunction(0x03));
  // No reply frame at all: the function code says so.
  EXPECT_EQ(ExpectedReplyLength(Hex("AA 55 00 ")), std::nullopt);
  for (std::uint8_t function : {0x00, 0x07, 0x0E, 0x11, 0x55, 0x80, 0x87, 0x91, 0xFF})
    EXPECT_FALSE(IsKnownReplyFunction(function)) << int(function);
}

TEST(SplitBlock, ReplyAloneJoinedOrAfterStrayBytes) {
  EXPECT_EQ(Split(kInputReply), "Reply[64 03 04 00 01 00 00 9E F5 ]");
  EXPECT_EQ(Split(Joined(kInputReply, kOutputReply)),
            "Reply[64 03 04 00 01 00 00 9E F5 ]Reply[64 03 04 00 00 00 01 0E F5 ]");
  EXPECT_EQ(Split(Joined(Hex("00 FF 64 03 "), kInputReply)),
            "Noise[00 FF 64 03 ]Reply[64 03 04 00 01 00 00 9E F5 ]");
  EXPECT_EQ(Split(Hex("01 10 00 15 00 01 10 0D ")), "Reply[01 10 00 15 00 01 10 0D ]");
  const xcom::ByteString refusal = WithCrc(Hex("64 90 02 "));
  EXPECT_EQ(Split(Joined(refusal, Hex("20 "))),
            "Reply[" + BytesToHexText(refusal) + "]Partial[20 ]");
}

TEST(SplitBlock, DamagedFrameAndFrameCutOffAtTheEnd) {
  EXPECT_EQ(Split(Hex("64 03 04 00 01 00 00 9E F6 ")), "Damaged[64 03 04 00 01 00 00 9E F6 ]");
  EXPECT_EQ(Split(Joined(kInputReply, Hex("64 03 04 00 "))),
            "Reply[64 03 04 00 01 00 00 9E F5 ]Partial[64 03 04 00 ]");
  EXPECT_EQ(Split(Hex("00 00 9E ")), "Noise[00 00 ]Partial[9E ]");
  EXPECT_EQ(Split({}), "");
  // A block is often the front of a larger buffer: what lies beyond it, even the rest of a
  // valid reply, is never read.
  for (std::size_t cut = 3; cut < kInputReply.size(); ++cut) {
    const xcom::ByteString front(kInputReply.begin(), kInputReply.begin() + cut);
    EXPECT_EQ(Describe(SplitRtuBlock({kInputReply.data(), cut}, {})),
              "Partial[" + BytesToHexText(front) + "]")
        << cut;
  }
}

TEST(SplitBlock, EchoOfTheOwnRequestBeforeTheReply) {
  const xcom::ByteString request = ReadRequest(100, kReadInputs);
  EXPECT_EQ(Split(Joined(request, kInputReply), {request}),
            "Echo[64 03 00 10 00 02 CC 3B ]Reply[64 03 04 00 01 00 00 9E F5 ]");
  // Without knowing the request its echo is no reply (its byte count would be 0).
  EXPECT_FALSE(HoldsWholeFrame(SplitRtuBlock(request, {})));
  // An echo cut short by the end of the block is not a damaged frame.
  EXPECT_EQ(Split(Hex("64 03 00 10 00 "), {request}), "Partial[64 03 00 10 00 ]");
  const xcom::ByteString modeFrame = ModeFrame(kControlMode);
  EXPECT_EQ(Split(modeFrame, {request, modeFrame}), "Echo[AA 55 00 05 E0 50 00 01 35 ]");
}

TEST(SplitBlock, RequestThatIsItsOwnReplyIsAnEchoOnlyWhenRepeated) {
  // Write single register: the reply is a copy of the request.
  const xcom::ByteString write = WithCrc(Hex("01 06 00 15 00 01 "));
  EXPECT_EQ(Describe(SplitRtuBlock(write, {&write, 1})), "Reply[" + BytesToHexText(write) + "]");
  EXPECT_EQ(Describe(SplitRtuBlock(Joined(write, write), {&write, 1})),
            "Echo[" + BytesToHexText(write) + "]Reply[" + BytesToHexText(write) + "]");
}

TEST(ExceptionCodes, InWords) {
  EXPECT_EQ(ExceptionCodeText(0x01), "illegal function");
  EXPECT_EQ(ExceptionCodeText(0x02), "illegal data address");
  EXPECT_EQ(ExceptionCodeText(0x03), "illegal data value");
  EXPECT_EQ(ExceptionCodeText(0x04), "slave device failure");
  EXPECT_EQ(ExceptionCodeText(0x05) + "/" + ExceptionCodeText(0x06) + "/" +
                ExceptionCodeText(0x08) + "/" + ExceptionCodeText(0x0A),
            "acknowledge/slave device busy/memory parity error/gateway path unavailable");
  EXPECT_EQ(ExceptionCodeText(0x0B), "gateway target device failed to respond");
  std::string functions;
  for (std::uint8_t function : {0x01, 0x02, 0x04, 0x05, 0x06, 0x0F})
    functions += FunctionCodeText(function) + "/";
  EXPECT_EQ(functions,
            "read coils/read discrete inputs/read input registers/write single coil/"
            "write single register/write multiple coils/");
  EXPECT_EQ(ExceptionCodeText(0x07), "exception code 07");
  EXPECT_EQ(ExceptionCodeText(0xE1), "exception code E1");
  EXPECT_EQ(FunctionCodeText(0x90), "write multiple registers");
  EXPECT_EQ(FunctionCodeText(0x83), "read holding registers");
  EXPECT_EQ(FunctionCodeText(0x2B), "function 2B");
}

}  // namespace
