#include "RtuSilence.h"

namespace modbus {

Picoseconds InterFrameSilence(std::uint32_t baud, unsigned bitsPerCharacter) {
  if (baud == 0 || baud > 19200) return kFixedInterFrameSilence;
  // 3.5 characters of `bitsPerCharacter` bits, each bit 1/baud seconds long.
  return Picoseconds(std::uint64_t{35} * bitsPerCharacter * 100'000'000'000ULL / baud);
}

}  // namespace modbus
