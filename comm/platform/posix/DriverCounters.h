#pragma once
// The driver's running counts of line changes and line errors, where it keeps them (a UART, most
// USB adapters; a pseudo-terminal keeps none). Each backend reads them with its own call (Linux:
// TIOCGICOUNT); the device layer turns what moved between two looks into comm events and into
// ClearCommError's error word.

#include <cstdint>
#include <memory>

namespace xcom {

class DriverCounters {
 public:
  virtual ~DriverCounters() = default;
  // The events (EV_CTS, EV_DSR, EV_RLSD, EV_RING, EV_BREAK, EV_ERR) since the previous call.
  virtual std::uint32_t EventsSinceLastLook() = 0;
  // The error bits (CE_*) since the previous call; kept apart from the events' own look.
  virtual std::uint32_t ErrorsSinceLastLook() = 0;
};

// The counters of the terminal `fd`, starting from what they hold now; nullptr when its driver
// keeps none.
std::unique_ptr<DriverCounters> ProbeDriverCounters(int fd);

}  // namespace xcom
