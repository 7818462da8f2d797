#include "ModbusCrc.h"

namespace modbus {

static_assert(CrcTable[1] == 0xC0C1 && CrcTable[7] == 0xC241 && CrcTable[255] == 0x4040);

std::uint16_t ModbusCrc16Value(const std::uint8_t* data, std::size_t size) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < size; ++i) crc = CrcTable[(data[i] ^ crc) & 0xFF] ^ (crc >> 8);
  return crc;
}

xcom::ByteString ModbusCrc16(const xcom::ByteString& data) {
  const std::uint16_t crc = ModbusCrc16Value(data.data(), data.size());
  return xcom::ByteString{static_cast<std::uint8_t>(crc & 0xFF),
                          static_cast<std::uint8_t>(crc >> 8)};
}

xcom::ByteString WithCrc(xcom::ByteString frame) {
  const xcom::ByteString crc = ModbusCrc16(frame);
  frame.insert(frame.end(), crc.begin(), crc.end());
  return frame;
}

bool HasValidCrc(std::span<const std::uint8_t> frame) {
  if (frame.size() < 2) return false;
  const std::size_t n = frame.size();
  const std::uint16_t crc = ModbusCrc16Value(frame.data(), n - 2);
  return frame[n - 2] == (crc & 0xFF) && frame[n - 1] == (crc >> 8);
}

}  // namespace modbus
