#include "LineSettings.h"

#include <charconv>

#include "CharacterBits.h"

namespace kestrum_sim {

int LineSettings::BitsPerCharacter() const {
  return static_cast<int>(xcom::BitsPerCharacter(
      static_cast<unsigned>(dataBits), parity != Parity::None, static_cast<unsigned>(stopBits)));
}

std::string LineSettings::FormatText() const {
  const char parityLetter = parity == Parity::None ? 'N' : parity == Parity::Even ? 'E' : 'O';
  return std::string{static_cast<char>('0' + dataBits), parityLetter,
                     static_cast<char>('0' + stopBits)};
}

std::optional<LineSettings> ParseFormat(std::string_view text, LineSettings base) {
  if (text.size() != 3) return std::nullopt;
  if (text[0] != '7' && text[0] != '8') return std::nullopt;
  if (text[2] != '1' && text[2] != '2') return std::nullopt;
  switch (text[1]) {
    case 'N':
      base.parity = Parity::None;
      break;
    case 'E':
      base.parity = Parity::Even;
      break;
    case 'O':
      base.parity = Parity::Odd;
      break;
    default:
      return std::nullopt;
  }
  base.dataBits = text[0] - '0';
  base.stopBits = text[2] - '0';
  return base;
}

std::optional<unsigned> ParseBaud(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  if (value < 50 || value > 4'000'000) return std::nullopt;
  return value;
}

}  // namespace kestrum_sim
