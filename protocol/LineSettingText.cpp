#include "LineSettingText.h"

namespace modbus {

namespace {

struct KnownRate {
  std::string_view text;
  BaudRateChoice choice;
};

// The rate box's texts in the order they are compared.
constexpr KnownRate kKnownRates[] = {
    {"9600", {9600, false}},     {"4800", {4800, false}},    {"2400", {2400, false}},
    {"1200", {1200, false}},     {"600", {600, false}},      {"300", {300, false}},
    {"19200", {19200, false}},   {"38400", {38400, false}},  {"57600", {57600, false}},
    {"115200", {115200, false}}, {"230400", {230400, true}}, {"460800", {460800, true}},
    {"921600", {921600, true}},  {"14400", {14400, true}},   {"28800", {28800, true}},
    {"33600", {33600, true}},    {"76800", {76800, true}},
};

}  // namespace

std::optional<BaudRateChoice> BaudRateFromText(std::string_view text) {
  for (const KnownRate& known : kKnownRates)
    if (text == known.text) return known.choice;
  return std::nullopt;
}

CharacterFormat CharacterFormatFromText(std::u32string_view text) {
  const auto at = [text](std::size_t i) { return i < text.size() ? text[i] : U'\0'; };
  CharacterFormat format;
  if (at(0) == U'8') format.dataBits = 8;
  if (at(0) == U'7') format.dataBits = 7;
  if (at(1) == U'N') format.parity = FormatParity::None;
  if (at(1) == U'E') format.parity = FormatParity::Even;
  if (at(1) == U'O') format.parity = FormatParity::Odd;
  if (at(2) == U'1') format.stopBits = 1;
  if (at(2) == U'2') format.stopBits = 2;
  return format;
}

}  // namespace modbus
