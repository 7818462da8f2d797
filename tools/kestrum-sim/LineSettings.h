#pragma once
// Line settings of the simulated module's side of the serial line: baud rate and character
// format, written as in the tool's window ("9600", "8N1").

#include <optional>
#include <string>
#include <string_view>

namespace kestrum_sim {

enum class Parity { None, Even, Odd };

struct LineSettings {
  unsigned baud = 9600;
  int dataBits = 8;  // 7 or 8
  Parity parity = Parity::None;
  int stopBits = 1;  // 1 or 2

  // Bits on the wire per character: start bit, data bits, parity bit, stop bits.
  int BitsPerCharacter() const;
  // "8N1" style.
  std::string FormatText() const;
  bool operator==(const LineSettings&) const = default;
};

// The twelve character formats the tool offers: [78][NEO][12], upper case.
std::optional<LineSettings> ParseFormat(std::string_view text, LineSettings base = {});

// A baud rate the line accepts: decimal digits only, 50 to 4000000.
std::optional<unsigned> ParseBaud(std::string_view text);

}  // namespace kestrum_sim
