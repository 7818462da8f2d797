#pragma once
// The window's texts for the line settings, shared by every front end: the baud rate as decimal
// digits and the character format as data bits, parity letter and stop bits ("8N1").

#include <cstdint>
#include <optional>
#include <string_view>

namespace modbus {

// A rate the rate box knows. `custom` rates are set through the custom route with `rate` as
// the value, even where a member of their own exists (14400).
struct BaudRateChoice {
  std::uint32_t rate = 9600;
  bool custom = false;
  bool operator==(const BaudRateChoice&) const = default;
};

// The rate box's text compared whole, byte for byte, with the texts it knows ("9600", "4800",
// ..., "230400", "33600", "76800"); nothing when it is none of them (the window then keeps
// 9600).
std::optional<BaudRateChoice> BaudRateFromText(std::string_view text);

enum class FormatParity { None, Even, Odd };

// What the first three characters of a format text set. Each position decides on its own; a
// character it does not know (lower case included), or a missing one, sets nothing there.
struct CharacterFormat {
  std::optional<int> dataBits;  // 7 or 8
  std::optional<FormatParity> parity;
  std::optional<int> stopBits;  // 1 or 2
  bool Complete() const { return dataBits && parity && stopBits; }
};

// `text` holds characters (not bytes), so that a character beyond ASCII counts as one.
CharacterFormat CharacterFormatFromText(std::u32string_view text);

}  // namespace modbus
