#include <gtest/gtest.h>

#include <string>

#include "HexText.h"
#include "ModbusCrc.h"
#include "TestSupport.h"

using namespace modbus;  // the protocol layer

namespace {

const auto Hex = testsupport::HexBytes;

TEST(CrcTable, MatchesTheReflectedPolynomialTable) {
  const std::uint16_t first[] = {0x0000, 0xC0C1, 0xC181, 0x0140, 0xC301, 0x03C0, 0x0280, 0xC241};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(CrcTable[i], first[i]) << i;
  EXPECT_EQ(CrcTable[255], 0x4040);
}

TEST(ModbusCrc16, WorkedValuesInWireOrder) {
  EXPECT_EQ(ModbusCrc16({}), (xcom::ByteString{0xFF, 0xFF}));
  EXPECT_EQ(ModbusCrc16(xcom::BytesOf("123456789")), (xcom::ByteString{0x37, 0x4B}));
  EXPECT_EQ(ModbusCrc16(Hex("64 03 00 10 00 02 ")), (xcom::ByteString{0xCC, 0x3B}));
  EXPECT_EQ(ModbusCrc16(Hex("64 10 00 14 00 01 02 00 01 ")), (xcom::ByteString{0xF3, 0xD6}));
}

TEST(ModbusCrc16, ZeroBytesAndHighBytesTakePart) {
  EXPECT_NE(ModbusCrc16(xcom::ByteString{0x00}), ModbusCrc16(xcom::ByteString{}));
  EXPECT_NE(ModbusCrc16(xcom::ByteString{0x00, 0x00}), ModbusCrc16(xcom::ByteString{0x00}));
  // A byte >= 0x80 must index the table as unsigned; compare with a bitwise reference.
  for (unsigned b : {0x80u, 0xE0u, 0xFFu}) {
    std::uint16_t crc = 0xFFFF ^ b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    EXPECT_EQ(ModbusCrc16(xcom::ByteString{static_cast<std::uint8_t>(b)}),
              (xcom::ByteString{static_cast<std::uint8_t>(crc & 0xFF),
                                static_cast<std::uint8_t>(crc >> 8)}));
  }
}

// Every frame the tool sends or expects carries the CRC of the bytes before it; recomputing
// it over the whole frame gives the residue 0000.
TEST(ModbusCrc16, EveryPrintedFrameChecksOut) {
  const char* frames[] = {
      "64 03 00 10 00 02 CC 3B ",          "64 03 00 14 00 02 8D FA ",
      "64 10 00 14 00 01 02 00 01 F3 D6 ", "64 10 00 14 00 01 02 00 00 32 16 ",
      "64 10 00 15 00 01 02 00 01 F2 07 ", "64 10 00 15 00 01 02 00 00 33 C7 ",
      "64 10 00 16 00 01 02 00 01 F2 34 ", "64 10 00 16 00 01 02 00 00 33 F4 ",
      "64 10 00 17 00 01 02 00 01 F3 E5 ", "64 10 00 17 00 01 02 00 00 32 25 ",
      "01 03 00 10 00 02 C5 CE ",          "64 03 04 00 01 00 00 9E F5 ",
      "64 03 04 00 00 00 01 0E F5 ",       "64 03 04 01 02 00 00 6F 09 ",
  };
  for (const char* text : frames) {
    const xcom::ByteString frame = Hex(text);
    EXPECT_TRUE(HasValidCrc(frame)) << text;
    EXPECT_EQ(ModbusCrc16(frame), (xcom::ByteString{0x00, 0x00})) << text;
    EXPECT_EQ(WithCrc(xcom::ByteString(frame.begin(), frame.end() - 2)), frame) << text;
  }
}

TEST(ModbusCrc16, DetectsACorruptedByte) {
  xcom::ByteString frame = Hex("64 03 04 00 01 00 00 9E F5 ");
  frame[8] ^= 0x01;
  EXPECT_FALSE(HasValidCrc(frame));
  EXPECT_FALSE(HasValidCrc(xcom::ByteString{0xFF}));
  EXPECT_TRUE(HasValidCrc(xcom::ByteString{0xFF, 0xFF}));  // the CRC of nothing
}

TEST(HexText, ByteToHexIsTwoUppercaseDigits) {
  EXPECT_EQ(ByteToHex(0), "00");
  EXPECT_EQ(ByteToHex(100), "64");
  EXPECT_EQ(ByteToHex(0xAB), "AB");
  EXPECT_EQ(ByteToHex(255), "FF");
}

TEST(HexText, EveryByteGivesTwoDigitsAndASpace) {
  EXPECT_EQ(BytesToHexText({}), "");
  EXPECT_EQ(BytesToHexText(xcom::ByteString{0xFF}), "FF ");
  EXPECT_EQ(BytesToHexText(xcom::ByteString{0x01, 0x03, 0x0A}), "01 03 0A ");
  EXPECT_EQ(BytesToHexText(xcom::ByteString{0x00, 0xE0, 0x00}), "00 E0 00 ");
}

}  // namespace
