#include "HexText.h"

namespace modbus {

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
}

std::string ByteToHex(unsigned value) {
  value &= 0xFF;
  return std::string{kHexDigits[value / 16], kHexDigits[value % 16]};
}

std::string BytesToHexText(const xcom::ByteString& data) {
  std::string text;
  text.reserve(data.size() * 3);
  for (const std::uint8_t byte : data) {
    text += ByteToHex(byte);
    text += ' ';
  }
  return text;
}

}  // namespace modbus
