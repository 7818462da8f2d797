#pragma once
// CRC-16/MODBUS: initial value 0xFFFF, reflected polynomial 0xA001, no final XOR.

#include <array>
#include <cstdint>
#include <span>

#include "ByteString.h"

namespace modbus {

namespace detail {
constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    std::uint16_t c = static_cast<std::uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit)
      c = (c & 1) ? static_cast<std::uint16_t>((c >> 1) ^ 0xA001) : c >> 1;
    table[i] = c;
  }
  return table;
}
}  // namespace detail

// The standard reflected CRC-16 table of polynomial 0xA001, computed at compile time.
inline constexpr std::array<std::uint16_t, 256> CrcTable = detail::MakeCrcTable();

// CRC of `data` as two bytes in wire order: low byte first, then high byte.
xcom::ByteString ModbusCrc16(const xcom::ByteString& data);

// The same CRC as a number, for callers that work on raw buffers.
std::uint16_t ModbusCrc16Value(const std::uint8_t* data, std::size_t size);

// `frame` with its CRC appended.
xcom::ByteString WithCrc(xcom::ByteString frame);

// True when the last two bytes of `frame` are the CRC of the bytes before them. Works in place
// on any span, so the framers check a frame inside their buffers without copying it out.
bool HasValidCrc(std::span<const std::uint8_t> frame);

}  // namespace modbus
