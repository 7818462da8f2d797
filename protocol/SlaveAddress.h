#pragma once
// The slave-address text of the window, converted like the standard text-to-integer routine:
// leading spaces are skipped, an optional sign follows, then decimal digits, or hexadecimal
// digits after "$" or "0x"/"0X"; the whole rest of the text must belong to the number.

#include <cstdint>
#include <optional>
#include <string_view>

namespace modbus {

// The value, or nothing when the text is empty, not a number, has trailing characters (a
// trailing space included) or lies outside the signed 32-bit range. Hexadecimal digits may
// fill all 32 bits and are taken as two's complement ("$FFFFFFFF" is -1).
std::optional<std::int32_t> SlaveAddressFromText(std::string_view text);

}  // namespace modbus
