// The driver's counters through TIOCGICOUNT. The events and the error word each keep their own
// last sample: ClearCommError and the monitor look at different moments, and neither may take
// the other's changes away.
#include "DriverCounters.h"

#include <sys/ioctl.h>

#include "CounterEvents.h"

namespace xcom {

namespace {

class IcountCounters final : public DriverCounters {
 public:
  IcountCounters(int fd, const serial_icounter_struct& now)
      : fd_(fd), eventsSeen_(now), errorsSeen_(now) {}

  std::uint32_t EventsSinceLastLook() override { return Since(eventsSeen_, EventsFromCounters); }
  std::uint32_t ErrorsSinceLastLook() override { return Since(errorsSeen_, ErrorsFromCounters); }

 private:
  using Rule = std::uint32_t (*)(const serial_icounter_struct&, const serial_icounter_struct&);

  // What `rule` finds between `seen` and the counters now; `seen` then holds now.
  std::uint32_t Since(serial_icounter_struct& seen, Rule rule) {
    serial_icounter_struct now{};
    if (::ioctl(fd_, TIOCGICOUNT, &now) != 0) return 0;
    const std::uint32_t found = rule(seen, now);
    seen = now;
    return found;
  }

  int fd_;
  serial_icounter_struct eventsSeen_;
  serial_icounter_struct errorsSeen_;
};

}  // namespace

std::unique_ptr<DriverCounters> ProbeDriverCounters(int fd) {
  serial_icounter_struct now{};
  if (::ioctl(fd, TIOCGICOUNT, &now) != 0) return nullptr;
  return std::make_unique<IcountCounters>(fd, now);
}

}  // namespace xcom
