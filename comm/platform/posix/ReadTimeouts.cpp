#include "ReadTimeouts.h"

#include <algorithm>

namespace xcom {

namespace {

constexpr DWORD kMaxDword = 0xFFFFFFFF;
// A total time-out longer than a year is as good as none, and keeps the deadline from
// overflowing the clock.
constexpr std::uint64_t kLongestTotalMs = std::uint64_t(365) * 24 * 3600 * 1000;

// Milliseconds left of `limitMs` after `elapsed`, rounded up, at least 0.
int MsLeft(std::uint64_t limitMs, ReadTimeouts::Duration elapsed) {
  const auto left = std::chrono::milliseconds(limitMs) - elapsed;
  if (left <= ReadTimeouts::Duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, 0x7FFFFFFF));
}

}  // namespace

ReadTimeouts::ReadTimeouts(const COMMTIMEOUTS& t, std::uint32_t count)
    : count_(count),
      atOnce_(t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
              t.ReadTotalTimeoutConstant == 0),
      firstBytes_(t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword &&
                  t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMaxDword),
      intervalMs_(firstBytes_ || t.ReadIntervalTimeout == kMaxDword ? 0 : t.ReadIntervalTimeout),
      totalMs_(std::min(firstBytes_ ? t.ReadTotalTimeoutConstant
                                    : std::uint64_t(t.ReadTotalTimeoutMultiplier) * count +
                                          t.ReadTotalTimeoutConstant,
                        kLongestTotalMs)) {}

bool ReadTimeouts::Finished(std::uint32_t got) const {
  return got >= count_ || atOnce_ || (firstBytes_ && got > 0);
}

int ReadTimeouts::NextWaitMs(std::uint32_t got, Duration sinceStart, Duration sinceLastByte) const {
  int wait = totalMs_ != 0 ? MsLeft(totalMs_, sinceStart) : -1;
  if (intervalMs_ != 0 && got > 0) {
    const int gap = MsLeft(intervalMs_, sinceLastByte);
    wait = wait < 0 ? gap : std::min(wait, gap);
  }
  return wait;
}

}  // namespace xcom
