// Request frames, the receive-block rules, the reply decoder, the slave-address, rate and format
// texts and the free text in GBK: everything the window sends or shows that can be checked without
// a window.
#include <gtest/gtest.h>

#include <string>

#include "GbkText.h"
#include "HexText.h"
#include "LineSettingText.h"
#include "ModbusCrc.h"
#include "RequestFrames.h"
#include "ResponseDecoder.h"
#include "SlaveAddress.h"
#include "TestSupport.h"

using namespace modbus;  // the protocol layer

namespace {

const auto Hex = testsupport::HexBytes;

using Outcome = DecodedResponse::Outcome;

TEST(RequestFrames, ReadAllRequestsForAddress100And1) {
  EXPECT_EQ(BytesToHexText(ReadRequest(100, kReadInputs)), "64 03 00 10 00 02 CC 3B ");
  EXPECT_EQ(BytesToHexText(ReadRequest(100, kReadRelays)), "64 03 00 14 00 02 8D FA ");
  EXPECT_EQ(BytesToHexText(ReadRequest(1, kReadInputs)), "01 03 00 10 00 02 C5 CE ");
}

TEST(RequestFrames, AddressByteIsTheLowEightBitsWithoutRangeCheck) {
  EXPECT_EQ(ReadRequest(300, kReadInputs)[0], 0x2C);
  EXPECT_EQ(ReadRequest(256, kReadInputs)[0], 0x00);
  EXPECT_EQ(ReadRequest(-1, kReadInputs)[0], 0xFF);
  EXPECT_EQ(RelayRequest(-1, kRelay1Register, true)[0], 0xFF);
  // The CRC follows the byte actually sent.
  EXPECT_EQ(ReadRequest(300, kReadInputs), ReadRequest(44, kReadInputs));
}

TEST(RequestFrames, TheEightRelayFramesForAddress100) {
  struct Case {
    std::uint8_t reg;
    bool on;
    const char* frame;
  };
  const Case cases[] = {
      {kRelay1Register, true, "64 10 00 14 00 01 02 00 01 F3 D6 "},
      {kRelay1Register, false, "64 10 00 14 00 01 02 00 00 32 16 "},
      {kRelay2Register, true, "64 10 00 15 00 01 02 00 01 F2 07 "},
      {kRelay2Register, false, "64 10 00 15 00 01 02 00 00 33 C7 "},
      {kRelay3Register, true, "64 10 00 16 00 01 02 00 01 F2 34 "},
      {kRelay3Register, false, "64 10 00 16 00 01 02 00 00 33 F4 "},
      {kRelay4Register, true, "64 10 00 17 00 01 02 00 01 F3 E5 "},
      {kRelay4Register, false, "64 10 00 17 00 01 02 00 00 32 25 "},
  };
  for (const Case& c : cases)
    EXPECT_EQ(BytesToHexText(RelayRequest(100, c.reg, c.on)), c.frame) << c.frame;
}

TEST(RequestFrames, ModeFramesEndInTheirByteSum) {
  EXPECT_EQ(BytesToHexText(ModeFrame(kControlMode)), "AA 55 00 05 E0 50 00 01 35 ");
  EXPECT_EQ(BytesToHexText(ModeFrame(kDataCenterMode)), "AA 55 00 05 E0 50 01 01 36 ");
  EXPECT_EQ(ModeFrameChecksum(ModeFrame(kDataCenterMode)), 0x36) << "the checksum byte not summed";
}

// A frame still arriving counts as a mode frame's head as long as what came agrees; nothing past
// the bytes given is looked at.
TEST(RequestFrames, ModeFrameHeadIsJudgedOnTheBytesGivenOnly) {
  const std::uint8_t bytes[] = {0xAA, 0x55, 0x00, 0x05, 0xE0, 0x50, 0x07};
  for (std::size_t size = 0; size <= std::size(bytes); ++size)
    EXPECT_TRUE(IsModeFrameHead(bytes, size)) << size;
  const std::uint8_t stray[] = {0xAA, 0x00};
  EXPECT_TRUE(IsModeFrameHead(stray, 1));
  EXPECT_FALSE(IsModeFrameHead(stray, 2));
}

TEST(ModuleModel, ReadsTakeEachRegisterWholeAndChannelsAreNamedByTheirBlock) {
  const xcom::ByteString reply = {0x64, 0x03, 0x04, 0x01, 0x02, 0x00, 0xFF, 0x00, 0x00};
  EXPECT_EQ(RegistersOf(reply, 2), (std::vector<std::uint16_t>{0x0102, 0x00FF}));
  const std::pair<std::uint16_t, const char*> names[] = {
      {0x000F, ""},    {0x0010, "DI1"}, {0x0011, "DI2"}, {0x0012, ""},
      {0x0014, "DO1"}, {0x0017, "DO4"}, {0x0018, ""},    {0x1014, ""}};
  for (const auto& [reg, name] : names) EXPECT_EQ(ChannelName(reg), name) << reg;
  for (int relay = 1; relay <= kRelayCount; ++relay)
    EXPECT_EQ(RelayOfRegister(RelayRegister(relay)), relay);
  for (const std::uint16_t reg : {0x0013, 0x0018, 0x0010, 0x1014})
    EXPECT_EQ(RelayOfRegister(reg), 0) << reg;
}

TEST(ReceivedBlock, LoggedOnlyWithAByteAbove0x20) {
  EXPECT_FALSE(IsLoggedBlock({}));
  EXPECT_FALSE(IsLoggedBlock({0x00, 0x20, 0x0D, 0x0A, 0x20}));
  EXPECT_TRUE(IsLoggedBlock({0x20, 0x21}));
  EXPECT_TRUE(IsLoggedBlock({0x00, 0xFF, 0x00}));  // high bytes count as above 0x20
}

TEST(ReceivedBlock, DecodedOnlyWhenLongerThanEightBytes) {
  EXPECT_FALSE(IsDecodedBlock(Hex("64 10 00 14 00 01 0C 3D ")));  // a relay reply
  EXPECT_TRUE(IsDecodedBlock(Hex("64 03 04 00 01 00 00 9E F5 ")));
  // Blank bytes are still decoded when there are enough of them.
  EXPECT_FALSE(IsLoggedBlock(xcom::ByteString(9, 0x20)));
  EXPECT_TRUE(IsDecodedBlock(xcom::ByteString(9, 0x20)));
}

TEST(DecodeResponse, InputBlockGivesTheTwoInputs) {
  const DecodedResponse r = DecodeResponse(Hex("64 03 04 00 01 00 00 9E F5 "), kReadInputs);
  ASSERT_EQ(r.outcome, Outcome::Decoded);
  EXPECT_EQ(r.read, kReadInputs);
  EXPECT_EQ(r.registers, (std::vector<std::uint16_t>{1, 0}));
}

TEST(DecodeResponse, TheSameReplyToTheRelaysReadGivesTheRelays) {
  const DecodedResponse r = DecodeResponse(Hex("64 03 04 00 01 00 00 9E F5 "), kReadRelays);
  ASSERT_EQ(r.outcome, Outcome::Decoded);
  EXPECT_EQ(r.read, kReadRelays);
  EXPECT_EQ(r.registers, (std::vector<std::uint16_t>{1, 0}));
  const DecodedResponse out = DecodeResponse(Hex("64 03 04 00 00 00 01 0E F5 "), kReadRelays);
  EXPECT_EQ(out.registers, (std::vector<std::uint16_t>{0, 1}));
}

TEST(DecodeResponse, BadCrcGivesOneErrorLineAndNoChannel) {
  const DecodedResponse r = DecodeResponse(Hex("64 03 04 00 01 00 00 9E F6 "), kReadInputs);
  EXPECT_EQ(r.outcome, Outcome::CrcError);
  EXPECT_EQ(r.registers, std::vector<std::uint16_t>{});  // no value shows
  // The CRC bytes are compared in wire order: swapped bytes are an error too.
  EXPECT_EQ(DecodeResponse(Hex("64 03 04 00 01 00 00 F5 9E "), kReadInputs).outcome,
            Outcome::CrcError);
}

TEST(DecodeResponse, TwoRepliesJoinedInOneBlockFailTheCrc) {
  const xcom::ByteString joined = Hex("64 03 04 00 01 00 00 9E F5 64 03 04 00 00 00 01 0E F5 ");
  ASSERT_EQ(joined.size(), 18u);
  const DecodedResponse r = DecodeResponse(joined, kReadRelays);
  EXPECT_EQ(r.outcome, Outcome::CrcError);
  EXPECT_EQ(r.registers, std::vector<std::uint16_t>{});  // no value shows
}

TEST(DecodeResponse, OtherFunctionCodesAreIgnoredWhateverTheirCrc) {
  for (const char* block : {"64 10 00 14 00 01 02 00 01 ", "64 83 02 C0 F1 00 00 00 00 ",
                            "00 64 03 04 00 01 00 00 9E F5 "}) {
    const DecodedResponse r = DecodeResponse(Hex(block), kReadInputs);
    EXPECT_EQ(r, DecodedResponse{}) << block;
  }
}

TEST(DecodeResponse, LongerRepliesStillShowBytesFiveAndSeven) {
  // Four registers: 0x0001, 0x0000, 0x1234, 0x5678; bytes 8 to 11 take part only in the CRC.
  const xcom::ByteString reply = WithCrc(Hex("64 03 08 00 01 00 00 12 34 56 78 "));
  ASSERT_EQ(reply.size(), 13u);
  const DecodedResponse r = DecodeResponse(reply, kReadInputs);
  ASSERT_EQ(r.outcome, Outcome::Decoded);
  EXPECT_EQ(r.registers, (std::vector<std::uint16_t>{1, 0}));
}

// A read of more registers takes them all from the reply, and a reply too short for them shows
// nothing.
TEST(DecodeResponse, AWiderReadNeedsAllItsRegistersInTheReply) {
  const RegisterRead three{kRelay1Register, 3};
  EXPECT_EQ(DecodeResponse(Hex("64 03 04 00 01 00 00 9E F5 "), three), DecodedResponse{});
  const DecodedResponse r = DecodeResponse(WithCrc(Hex("64 03 06 00 01 00 00 00 01 ")), three);
  ASSERT_EQ(r.outcome, Outcome::Decoded);
  EXPECT_EQ(r.registers, (std::vector<std::uint16_t>{1, 0, 1}));
}

TEST(DecodeResponse, RegistersComeWholeAndNeitherAddressNorCountIsChecked) {
  const DecodedResponse r = DecodeResponse(Hex("64 03 04 01 02 00 00 6F 09 "), kReadInputs);
  ASSERT_EQ(r.outcome, Outcome::Decoded);
  EXPECT_EQ(r.registers[0], 0x0102);
  const DecodedResponse other = DecodeResponse(WithCrc(Hex("07 03 06 00 FF 00 E0 ")), kReadInputs);
  ASSERT_EQ(other.outcome, Outcome::Decoded);
  EXPECT_EQ(other.registers, (std::vector<std::uint16_t>{0xFF, 0xE0}));
}

TEST(DecodeExceptionReply, OnlyAnExceptionFunctionIsARefusal) {
  const DecodedResponse refused = DecodeExceptionReply(Hex("64 90 02 "));
  EXPECT_EQ(refused.outcome, Outcome::Refused);
  EXPECT_EQ(refused.function, 0x10);
  EXPECT_EQ(refused.exceptionCode, 2);
  EXPECT_EQ(DecodeExceptionReply(Hex("64 03 04 00 01 00 00 9E F5 ")).outcome, Outcome::Ignored);
}

TEST(DecodeResponse, ShortBlocksAreNeverReadPastTheirEnd) {
  for (std::size_t n = 0; n < 9; ++n)
    EXPECT_EQ(DecodeResponse(xcom::ByteString(n, 0x03), kReadInputs).outcome, Outcome::Ignored)
        << n;
}

TEST(SlaveAddressText, DecimalAndHexadecimalForms) {
  EXPECT_EQ(SlaveAddressFromText("100"), 100);
  EXPECT_EQ(SlaveAddressFromText("  100"), 100);
  EXPECT_EQ(SlaveAddressFromText("+7"), 7);
  EXPECT_EQ(SlaveAddressFromText("-1"), -1);
  EXPECT_EQ(SlaveAddressFromText("300"), 300);
  EXPECT_EQ(SlaveAddressFromText("0x64"), 100);
  EXPECT_EQ(SlaveAddressFromText("0X64"), 100);
  EXPECT_EQ(SlaveAddressFromText("$64"), 100);
  EXPECT_EQ(SlaveAddressFromText("$ff"), 255);
  EXPECT_EQ(SlaveAddressFromText("0xAa"), 170);
  EXPECT_EQ(SlaveAddressFromText("-$10"), -16);
  EXPECT_EQ(SlaveAddressFromText("2147483647"), 2147483647);
  EXPECT_EQ(SlaveAddressFromText("-2147483648"), INT32_MIN);
  EXPECT_EQ(SlaveAddressFromText("$FFFFFFFF"), -1);
}

TEST(SlaveAddressText, RejectedTexts) {
  for (const char* text :
       {"",      " ",          "abc",         "100 ",       "10a",
        "-",     "+",          "$",           "0x",         "1e2",
        "1.0",   "2147483648", "-2147483649", "$100000000", "99999999999999999999",
        "\t100", "0x-1",       "--1",         "1:",         "$@",
        "1x5"})
    EXPECT_FALSE(SlaveAddressFromText(text).has_value()) << '"' << text << '"';
  // A text cut from a longer line is read up to its own end only.
  for (const std::string_view line : {"-$64", " -1"})
    EXPECT_FALSE(SlaveAddressFromText(line.substr(0, 1)).has_value()) << line;
}

TEST(WindowLineTexts, RatesAndFormatsAsTheRateAndFormatBoxesTakeThem) {
  // The classic rates are members; the others (14400 too, which has a member) go the custom way.
  for (std::uint32_t rate : {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200})
    EXPECT_EQ(BaudRateFromText(std::to_string(rate)), (BaudRateChoice{rate, false})) << rate;
  for (std::uint32_t rate : {14400, 28800, 33600, 76800, 230400, 460800, 921600})
    EXPECT_EQ(BaudRateFromText(std::to_string(rate)), (BaudRateChoice{rate, true})) << rate;
  EXPECT_EQ(BaudRateFromText("12345"), std::nullopt);
  EXPECT_EQ(BaudRateFromText(""), std::nullopt);

  const CharacterFormat mixed = CharacterFormatFromText(U"8X1");
  EXPECT_EQ(mixed.dataBits, 8);
  EXPECT_EQ(mixed.parity, std::nullopt);
  EXPECT_EQ(mixed.stopBits, 1);
  const CharacterFormat odd = CharacterFormatFromText(U"7O2 and more");
  EXPECT_EQ(odd.dataBits, 7);
  EXPECT_EQ(odd.parity, FormatParity::Odd);
  EXPECT_EQ(odd.stopBits, 2);
  EXPECT_FALSE(CharacterFormatFromText(U"8\U0001F600"
                                       U"1")
                   .parity);  // one character, not two
  EXPECT_EQ(CharacterFormatFromText(U"8\U0001F600"
                                    U"1")
                .stopBits,
            1);
  EXPECT_FALSE(CharacterFormatFromText(U"8E").Complete());
}

TEST(GbkText, AsciiAndChineseInTheGbkCodePage) {
  EXPECT_EQ(GbkBytesOf(""), xcom::ByteString{});
  EXPECT_EQ(GbkBytesOf("AT+1\r"), xcom::BytesOf("AT+1\r"));
  EXPECT_EQ(BytesToHexText(GbkBytesOf("中文")), "D6 D0 CE C4 ");
  EXPECT_EQ(BytesToHexText(GbkBytesOf("a继电器")), "61 BC CC B5 E7 C6 F7 ");
}

TEST(GbkText, CharactersOutsideGbkBecomeOneQuestionMarkEach) {
  EXPECT_EQ(GbkBytesOf("x\xF0\x9F\x98\x80y"), xcom::BytesOf("x?y"));       // an emoji
  EXPECT_EQ(GbkBytesOf("\xE0\xB8\x81\xE0\xB8\x82"), xcom::BytesOf("??"));  // two Thai letters
  EXPECT_EQ(GbkBytesOf("a\xE4\xB8"), xcom::BytesOf("a?"));                 // cut-off sequence
  EXPECT_EQ(GbkBytesOf("\xF0\x9F\x98\x80\x80"),
            xcom::BytesOf("??"));                             // and a stray continuation byte
  EXPECT_EQ(GbkBytesOf("\xEF\xBF\xBD"), xcom::BytesOf("?"));  // U+FFFD, lead byte EF
  EXPECT_EQ(GbkBytesOf("\xFF"
                       "b"),
            xcom::BytesOf("?b"));  // not UTF-8 at all
}

}  // namespace
