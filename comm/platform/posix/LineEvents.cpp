#include "LineEvents.h"

#include <sys/ioctl.h>

namespace xcom {

std::uint32_t EventsFromModemLines(int was, int now) {
  const int changed = now ^ was;
  std::uint32_t events = 0;
  if (changed & TIOCM_CTS) events |= EV_CTS;
  if (changed & TIOCM_DSR) events |= EV_DSR;
  if (changed & TIOCM_CD) events |= EV_RLSD;
  if (changed & now & TIOCM_RI) events |= EV_RING;
  return events;
}

}  // namespace xcom
