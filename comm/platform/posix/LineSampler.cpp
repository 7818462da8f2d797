#include "LineSampler.h"

#include <sys/ioctl.h>

#include "LineEvents.h"

namespace xcom {

LineSampler::LineSampler(int fd) : fd_(fd), counters_(ProbeDriverCounters(fd)) {
  linesSupported_ = ::ioctl(fd_, TIOCMGET, &lines_) == 0;
}

std::uint32_t LineSampler::EventsSinceLastLook() {
  if (counters_) return counters_->EventsSinceLastLook();
  if (!linesSupported_) return 0;
  int now = 0;
  if (::ioctl(fd_, TIOCMGET, &now) != 0) return 0;
  const std::uint32_t events = EventsFromModemLines(lines_, now);
  lines_ = now;
  return events;
}

std::uint32_t LineSampler::ErrorsSinceLastLook() {
  return counters_ ? counters_->ErrorsSinceLastLook() : 0;
}

}  // namespace xcom
