#pragma once
// How long a Modbus RTU frame is, told from its first bytes, in both directions: the master
// reads a reply until it is whole, the slave reads a request until it is whole. One place for
// the function codes' shapes, so the two directions cannot drift apart.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace modbus {

// A reply's function code has this bit set when the slave refuses the request (exception reply:
// address, function | 0x80, exception code, CRC).
inline constexpr std::uint8_t kExceptionFlag = 0x80;

inline bool IsExceptionFunction(std::uint8_t function) {
  return (function & kExceptionFlag) != 0;
}

// True for the function codes whose replies this framing knows, with or without the exception
// bit: 01, 02, 03, 04 (reads: address, function, byte count, data, CRC) and 05, 06, 0F, 10
// (writes: 8 bytes).
bool IsKnownReplyFunction(std::uint8_t function);

// Length, CRC included, of the reply frame that starts at bytes[0] (the address byte):
//   01, 02, 03, 04 -> 5 + byte count (bytes[2]);  05, 06, 0F, 10 -> 8;  exception -> 5.
// nullopt while too few bytes are there to tell (fewer than 2, or fewer than 3 for a read), and
// for a function code whose reply is not known: check IsKnownReplyFunction(bytes[1]) to tell
// "wait for more" from "this is no reply frame".
std::optional<std::size_t> ExpectedReplyLength(std::span<const std::uint8_t> bytes);

// Length, CRC included, of the request frame that starts at bytes[0] (the address byte):
//   01 to 06 -> 8;  0F, 10 -> 9 + byte count (bytes[6]);  16 -> 10;  17 -> 13 + byte count
//   (bytes[10]). nullopt while too few bytes are there to tell, and for any other function
// (only a silence on the line can end such a frame).
std::optional<std::size_t> ExpectedRequestLength(std::span<const std::uint8_t> bytes);

}  // namespace modbus
