#include "RtuFrameLength.h"

namespace modbus {

namespace {

bool IsReadFunction(std::uint8_t base) {
  return base >= 0x01 && base <= 0x04;
}

bool IsWriteFunction(std::uint8_t base) {
  return base == 0x05 || base == 0x06 || base == 0x0F || base == 0x10;
}

// Length of a frame whose byte count sits at `countAt`: the bytes before it, the count, the
// data and the CRC; nullopt while the count has not come.
std::optional<std::size_t> Counted(std::span<const std::uint8_t> bytes, std::size_t countAt) {
  if (bytes.size() <= countAt) return std::nullopt;
  return countAt + 3 + bytes[countAt];
}

}  // namespace

bool IsKnownReplyFunction(std::uint8_t function) {
  const auto base = static_cast<std::uint8_t>(function & ~kExceptionFlag);
  return IsReadFunction(base) || IsWriteFunction(base);
}

std::optional<std::size_t> ExpectedReplyLength(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 2 || !IsKnownReplyFunction(bytes[1])) return std::nullopt;
  const std::uint8_t function = bytes[1];
  if (IsExceptionFunction(function)) return 5;
  if (IsWriteFunction(function)) return 8;
  return Counted(bytes, 2);
}

std::optional<std::size_t> ExpectedRequestLength(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 2) return std::nullopt;
  switch (bytes[1]) {
    case 0x01:  // reads, and the writes of a single coil or register: fixed 8 bytes
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
      return 8;
    case 0x0F:  // write multiple coils and registers
    case 0x10:
      return Counted(bytes, 6);
    case 0x16:  // mask write register
      return 10;
    case 0x17:  // read/write multiple registers
      return Counted(bytes, 10);
    default:
      return std::nullopt;
  }
}

}  // namespace modbus
