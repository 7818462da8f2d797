// Rates without a B constant go through the serial component's one termios2 routine.
#include "LineSetup.h"
#include "LineSpeed.h"

namespace kestrum_sim {

bool SetArbitraryBaud(int fd, unsigned baud) {
  return xcom::SetLineSpeed(fd, baud);
}

std::optional<unsigned> ReadArbitraryBaud(int fd) {
  std::uint32_t baud = 0;
  if (!xcom::GetLineSpeed(fd, baud)) return std::nullopt;
  return baud;
}

}  // namespace kestrum_sim
