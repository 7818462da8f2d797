#pragma once
// How many bits one character takes on the line: the start bit, the data bits, the parity bit
// when there is one, and the stop bits. Everything that times the line (how long a queue takes
// to drain, how long a silence between frames lasts) counts in these.

namespace xcom {

constexpr unsigned BitsPerCharacter(unsigned dataBits, bool withParity, unsigned stopBits) {
  return 1u + dataBits + (withParity ? 1u : 0u) + stopBits;
}

}  // namespace xcom
