// Linux termios2: baud rates that have no B constant. Kept apart because <asm/termbits.h> and
// <termios.h> cannot be included in one translation unit.
#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace kestrum_sim {

bool SetArbitraryBaud(int fd, unsigned baud) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
  tio.c_cflag |= BOTHER;
  tio.c_ispeed = baud;
  tio.c_ospeed = baud;
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD << IBSHIFT);
  tio.c_cflag |= BOTHER << IBSHIFT;
  return ioctl(fd, TCSETS2, &tio) == 0;
}

}  // namespace kestrum_sim
