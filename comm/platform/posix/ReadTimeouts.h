#pragma once
// The read fields of a time-out block (COMMTIMEOUTS) as the Windows driver applies them to one
// read that asks for more bytes than are queued: when the read is over, and how long it may
// still wait for the next bytes. Pure rules: the device measures the time and does the waiting.
//
// - ReadIntervalTimeout MAXDWORD with both total fields 0: return at once with what is queued.
// - ReadIntervalTimeout and ReadTotalTimeoutMultiplier MAXDWORD, ReadTotalTimeoutConstant
//   neither 0 nor MAXDWORD: return as soon as at least one byte is there, else after the
//   constant.
// - Otherwise: the total time-out is multiplier x bytes asked for + constant (0: none), and once
//   bytes came, the interval time-out (0 or MAXDWORD: none) limits the gap to the next ones.

#include <chrono>
#include <cstdint>

#include "XComStructs.h"

namespace xcom {

class ReadTimeouts {
 public:
  using Duration = std::chrono::steady_clock::duration;

  ReadTimeouts(const COMMTIMEOUTS& timeouts, std::uint32_t count);

  // True when a read that holds `got` bytes ends now.
  bool Finished(std::uint32_t got) const;

  // How long the next wait may last, in milliseconds rounded up: -1 without limit, 0 when a
  // time-out has run out. `sinceStart` counts from the start of the read, `sinceLastByte` from
  // when the last bytes were taken (looked at only once `got` is above 0).
  int NextWaitMs(std::uint32_t got, Duration sinceStart, Duration sinceLastByte) const;

 private:
  std::uint32_t count_;
  bool atOnce_;
  bool firstBytes_;
  std::uint32_t intervalMs_;  // 0: no interval time-out
  std::uint64_t totalMs_;     // 0: no total time-out
};

}  // namespace xcom
