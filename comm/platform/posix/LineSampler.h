#pragma once
// Where the line events of a terminal come from: the driver's counters when it keeps them, else
// its modem lines sampled with TIOCMGET (lines raise no file event, so the device looks at them
// every 50 ms while the mask asks for them), else nowhere (a pseudo-terminal). Not thread-safe:
// the device guards it.

#include <cstdint>
#include <memory>

#include "DriverCounters.h"

namespace xcom {

class LineSampler {
 public:
  // Probes the terminal `fd`; the first look compares with what it holds now.
  explicit LineSampler(int fd);

  bool HasCounters() const { return counters_ != nullptr; }
  // Whether anything can be looked at: the monitor then wakes to look for line events.
  bool Watchable() const { return HasCounters() || linesSupported_; }

  // The line events (EV_CTS, EV_DSR, EV_RLSD, EV_RING, EV_BREAK, EV_ERR) since the last look.
  std::uint32_t EventsSinceLastLook();
  // ClearCommError's error word since its last look; 0 without counters.
  std::uint32_t ErrorsSinceLastLook();

 private:
  int fd_;
  std::unique_ptr<DriverCounters> counters_;
  bool linesSupported_ = false;
  int lines_ = 0;
};

}  // namespace xcom
