// The terminal device's transfers: writes that wait for room, reads that take the held bytes
// first and obey the read time-outs, and the waits the component's transfer loops sleep in.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "DeviceGone.h"
#include "OutputExcess.h"
#include "QueueSize.h"
#include "ReadTimeouts.h"
#include "TerminalDevice.h"

namespace xcom {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kWriteWait{1000};
// How long a wait on a device that is gone sleeps: short, so the caller notices soon, yet
// long enough that a caller's loop around it cannot spin.
constexpr std::uint32_t kDeadDeviceStepMs = 10;

// Milliseconds left until `deadline`, rounded up, at least 0.
int MsUntil(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, 0x7FFFFFFF));
}

int PollMs(std::uint32_t milliseconds) {
  return static_cast<int>(std::min<std::uint32_t>(milliseconds, 0x7FFFFFFF));
}

// poll() said the descriptor is dead and not writable.
bool HungUpForWriting(const pollfd& p) {
  return (p.revents & kPollDead) != 0 && (p.revents & POLLOUT) == 0;
}

}  // namespace

std::uint32_t TerminalDevice::WriteOverlapped(const std::uint8_t* buffer, std::uint32_t count) {
  if (count == 0 || lost_) return 0;
  const auto deadline = Clock::now() + kWriteWait;
  std::uint32_t written = 0;
  while (written < count) {
    const ssize_t n = ::write(fd_.Get(), buffer + written, count - written);
    if (n > 0) {
      written += static_cast<std::uint32_t>(n);
      // A short write means the driver's queue is full now: wait for room rather than
      // ask again at once for a write that would fail.
      if (written == count) break;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno != EAGAIN) {
      if (IsDeviceGoneError(errno)) lost_ = true;
      break;
    }
    const int left = MsUntil(deadline);
    if (left == 0) break;
    pollfd p{fd_.Get(), POLLOUT, 0};
    const int r = ::poll(&p, 1, left);
    if (r < 0 && errno != EINTR) break;
    if (r > 0 && HungUpForWriting(p)) {
      lost_ = true;
      break;
    }
  }
  return written;
}

std::uint32_t TerminalDevice::ReadOverlapped(std::uint8_t* buffer, std::uint32_t count) {
  if (count == 0) return 0;
  const auto start = Clock::now();
  COMMTIMEOUTS t;
  unsigned aborts;
  {
    std::lock_guard lock(mutex_);
    t = timeouts_;
    aborts = readAborts_;
  }
  std::uint32_t got = Take(buffer, count, 0);
  if (got == kReadFailed) return kReadFailed;
  // More may have been asked for than is queued: the read time-outs decide how long to wait.
  const ReadTimeouts rules(t, count);
  auto lastByte = Clock::now();
  while (!rules.Finished(got)) {
    const auto now = Clock::now();
    const int wait = rules.NextWaitMs(got, now - start, now - lastByte);
    if (wait == 0) return got;
    WaitReadable(wait);
    {
      std::lock_guard lock(mutex_);
      if (readAborts_ != aborts) return got;
    }
    const std::uint32_t n = Take(buffer + got, count - got, got);
    if (n == kReadFailed) return kReadFailed;
    if (n > 0) {
      got += n;
      lastByte = Clock::now();
    } else if (lost_) {
      return got;  // hung up after the first bytes: hand them over (nothing more will come)
    }
  }
  return got;
}

void TerminalDevice::WaitForInput(std::uint32_t milliseconds) {
  if (!lost_) WaitReadable(PollMs(milliseconds));
  if (lost_) SleepDeadStep(milliseconds);
}

// TIOCOUTQ counts down as the line sends (a pseudo-terminal has no line: nothing to wait
// for); once it is empty, tcdrain waits for the last characters in the UART itself. The wait
// is as long as the queued bytes need at the line's rate, plus a margin, within `milliseconds`:
// a line held up by flow control is left as it is when that time is up.
void TerminalDevice::DrainOutput(std::uint32_t milliseconds) {
  if (pseudoTerminal_ || lost_) return;
  int outgoing = 0;
  if (::ioctl(fd_.Get(), TIOCOUTQ, &outgoing) != 0) return;
  std::uint32_t waitMs = 0;
  {
    std::lock_guard lock(mutex_);
    waitMs = CloseDrainWaitMs(std::uint32_t(std::max(outgoing, 0)), dcb_, milliseconds);
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  while (outgoing > 0) {
    if (Clock::now() >= deadline) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (::ioctl(fd_.Get(), TIOCOUTQ, &outgoing) != 0) return;
  }
  ::tcdrain(fd_.Get());
}

void TerminalDevice::WaitForOutputRoom(std::uint32_t milliseconds) {
  if (lost_) return SleepDeadStep(milliseconds);
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  pollfd p{fd_.Get(), POLLOUT, 0};
  const int r = ::poll(&p, 1, PollMs(milliseconds));
  if (r > 0 && HungUpForWriting(p)) {
    lost_ = true;
    return SleepDeadStep(milliseconds);
  }
  if (r <= 0) return;
  // The driver calls itself writable long before its queue has drained below the output
  // size the caller counts against: sleep about as long as the line needs to send the excess.
  int outgoing = 0;
  if (::ioctl(fd_.Get(), TIOCOUTQ, &outgoing) != 0 || outgoing <= 0) return;
  std::uint32_t needMs = 0;
  {
    std::lock_guard lock(mutex_);
    needMs = OutputExcessWaitMs(std::uint32_t(outgoing), QueueSizeCounted(outQueue_), dcb_);
  }
  if (needMs == 0) return;
  const int left = MsUntil(deadline);
  std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::uint64_t>(needMs, left)));
}

void TerminalDevice::SleepDeadStep(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(std::min(milliseconds, kDeadDeviceStepMs)));
}

// Copies up to `count` bytes, the held ones first, then the driver's. Answers kReadFailed,
// with errno set, when the device read fails and nothing was taken in this call (`before`
// bytes came in earlier passes of the same ReadOverlapped: then the bytes are handed over and
// the failure is left for the next read).
std::uint32_t TerminalDevice::Take(std::uint8_t* buffer, std::uint32_t count,
                                   std::uint32_t before) {
  std::lock_guard lock(mutex_);
  return TakeLocked(buffer, count, before);
}

std::uint32_t TerminalDevice::TakeLocked(std::uint8_t* buffer, std::uint32_t count,
                                         std::uint32_t before) {
  std::uint32_t got = held_.Take(buffer, count);
  while (got < count) {
    const ssize_t n = ReadFromDriverLocked(buffer + got, count - got);
    if (n > 0) {
      // One read takes all the driver holds: a short one leaves nothing to ask for again.
      got += static_cast<std::uint32_t>(n);
      break;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    // read() = 0 on a terminal in raw mode means the line was hung up.
    const int error = n == 0 ? EIO : errno;
    if (IsDeviceGoneError(error)) lost_ = true;
    if (got > 0 || before > 0) break;
    errno = error;
    return kReadFailed;
  }
  return got;
}

// One driver read for a reader that wants `count` bytes. A small request takes as much as one
// driver read brings (the driver hands out at most a page at a time) and holds what the caller
// did not ask for: a caller reading a few bytes at a time then costs one system call per page
// rather than one per call. Answers as read() does.
ssize_t TerminalDevice::ReadFromDriverLocked(std::uint8_t* buffer, std::uint32_t count) {
  std::uint8_t page[4096];
  const std::size_t want = std::min<std::size_t>(sizeof page, std::size_t(count) + held_.Room());
  if (count >= want) return ::read(fd_.Get(), buffer, count);
  const ssize_t n = ::read(fd_.Get(), page, want);
  if (n <= 0) return n;
  const std::size_t mine = std::min<std::size_t>(std::size_t(n), count);
  std::memcpy(buffer, page, mine);
  held_.Append(page + mine, std::size_t(n) - mine);
  return static_cast<ssize_t>(mine);
}

// Waits until the driver has input, the monitor moved some into the held buffer, or a
// PURGE_RXABORT, for at most `ms` (-1: no limit).
void TerminalDevice::WaitReadable(int ms) {
  {
    std::lock_guard lock(mutex_);
    if (held_.Count() > 0) return;
    if (readersWaiting_ == 0) waits_.inputMoved->Drain();
    ++readersWaiting_;
  }
  pollfd p[2] = {{fd_.Get(), POLLIN, 0}, {waits_.inputMoved->Descriptor(), POLLIN, 0}};
  int r;
  do {
    r = ::poll(p, 2, ms);
  } while (r < 0 && errno == EINTR);
  if (r > 0 && (p[0].revents & kPollDead) != 0) lost_ = true;
  std::lock_guard lock(mutex_);
  --readersWaiting_;
}

}  // namespace xcom
