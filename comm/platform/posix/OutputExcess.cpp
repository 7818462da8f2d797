#include "OutputExcess.h"

#include <algorithm>

#include "CharacterBits.h"

namespace xcom {

namespace {
// Beyond the line's own time: an adapter's buffer and the driver's scheduling.
constexpr std::uint64_t kCloseDrainMarginMs = 100;
}  // namespace

std::uint32_t OutputExcessWaitMs(std::uint32_t outgoing, std::uint32_t outputSize, const DCB& dcb) {
  if (outgoing < outputSize) return 0;
  const std::uint32_t excess = outgoing - outputSize + 1;
  const std::uint32_t bitsPerSecond = dcb.BaudRate != 0 ? dcb.BaudRate : 9600;
  const std::uint32_t bitsPerChar =
      BitsPerCharacter(dcb.ByteSize, dcb.Parity != NOPARITY, dcb.StopBits == TWOSTOPBITS ? 2u : 1u);
  const std::uint64_t needMs = std::uint64_t(excess) * bitsPerChar * 1000 / bitsPerSecond + 1;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(needMs, 0xFFFFFFFF));
}

std::uint32_t CloseDrainWaitMs(std::uint32_t outgoing, const DCB& dcb, std::uint32_t timeoutMs) {
  const std::uint64_t needMs = OutputExcessWaitMs(outgoing, 1, dcb) + kCloseDrainMarginMs;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(needMs, timeoutMs));
}

}  // namespace xcom
