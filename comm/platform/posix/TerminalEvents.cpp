// The terminal device's events: the monitor's wait, what an arrival of bytes makes (deChar,
// deFlag, deIn80Full) and the reads callers hand to the monitor meanwhile.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "DeviceGone.h"
#include "LineEvents.h"
#include "TerminalDevice.h"

namespace xcom {

namespace {
constexpr int kLineSampleMs = 50;
}  // namespace

// While the monitor waits here, it takes reads handed over (ReadWhenArrived); once it is
// stopped or the wait failed, it gives them back.
WaitOutcome TerminalDevice::WaitCommEvent(StopSignal& stop, std::uint32_t& eventMask) {
  const WaitOutcome outcome = WaitForEvents(stop, eventMask);
  if (outcome != WaitOutcome::Events) HandBackReads();
  return outcome;
}

std::uint32_t TerminalDevice::ReadWhenArrived(std::uint8_t* buffer, std::uint32_t count,
                                              std::uint32_t milliseconds, bool endAtFirstBytes) {
  std::unique_lock lock(mutex_);
  if (lost_ || !monitorTakesReads_ || handed_ != nullptr ||
      monitorThread_ == std::this_thread::get_id())
    return kNotHandedOver;
  // The queued bytes are taken at once: the monitor has already seen them arrive, and
  // bytes left in the driver beside a full held buffer raise no new edge.
  const std::uint32_t ready = TakeLocked(buffer, count, 0);
  if (ready == kReadFailed) return kNotHandedOver;  // the caller's own read meets the failure
  HandedRead read(buffer, count, endAtFirstBytes);
  read.Placed(ready);
  if (read.Over() || milliseconds == 0) return read.Got();
  handed_ = &read;
  handedOver_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                       [&read] { return read.Over(); });
  handed_ = nullptr;
  return read.Got();
}

void TerminalDevice::HandBackReads() {
  std::lock_guard lock(mutex_);
  monitorTakesReads_ = false;
  EndHandedReadLocked();
}

// The lock is taken twice a wake, once before the wait and once after it: a reader polling the
// queue count beside a busy line meets it as seldom as can be.
WaitOutcome TerminalDevice::WaitForEvents(StopSignal& stop, std::uint32_t& eventMask) {
  eventMask = 0;
  if (!waits_.events->Watch(stop)) return WaitOutcome::Failed;
  for (;;) {
    // The stop signal is level-triggered in the wait: once set, every wait returns it at once.
    if (lost_) return stop.IsSet() ? WaitOutcome::Stopped : WaitOutcome::Failed;
    ReadyEvents ready;
    const bool waited = waits_.events->Wait(BeginWait(), ready);
    Arrivals arrivals;
    const std::optional<WaitOutcome> outcome = EndWait(waited, ready, eventMask, arrivals);
    // Woken after the lock is free, the reader need not wait for it at once.
    if (arrivals.handedReadOver) handedOver_.notify_all();
    if (outcome) return *outcome;
  }
}

// Before a wait: the monitor takes handed reads from here on, a wait is pending (from here on
// SetCommMask ends it), and the answer is how long it may last: without end, or the
// line-sampling step while the mask asks for line events.
int TerminalDevice::BeginWait() {
  std::lock_guard lock(mutex_);
  monitorTakesReads_ = true;
  monitorThread_ = std::this_thread::get_id();
  if (maskSignalled_) {  // a SetCommMask that came after the previous wait had ended
    waits_.maskChanged->Drain();
    maskSignalled_ = false;
  }
  waitPending_ = true;
  return (mask_ & kLineEvents) != 0 && lines_.Watchable() ? kLineSampleMs : -1;
}

// After a wait: what it found, its arrivals moved, and the masked events in `eventMask`.
// Nothing when the mask let no event through and the mask did not change (wait again).
std::optional<WaitOutcome> TerminalDevice::EndWait(bool waited, const ReadyEvents& ready,
                                                   std::uint32_t& eventMask, Arrivals& arrivals) {
  std::lock_guard lock(mutex_);
  waitPending_ = false;
  if (!waited) return WaitOutcome::Failed;
  if (ready.stop) return WaitOutcome::Stopped;  // it wins over events
  if (ready.hangUp) {
    lost_ = true;
    return WaitOutcome::Failed;
  }
  std::uint32_t found = 0;
  if (ready.input) {
    found |= EV_RXCHAR | TakeArrivalsLocked(arrivals);
    if (lost_) return WaitOutcome::Failed;
  }
  if (lines_.Watchable() && ((mask_ & kLineEvents) != 0 || found != 0))
    found |= lines_.EventsSinceLastLook();
  found &= mask_;
  if (found == 0 && !ready.maskChanged) return std::nullopt;
  eventMask = found;
  return WaitOutcome::Events;
}

// The monitor, at an arrival: moves new bytes into the read handed over, if any, and the
// rest into the held buffer, and answers the events they make (deFlag, deIn80Full).
std::uint32_t TerminalDevice::TakeArrivalsLocked(Arrivals& arrivals) {
  MoveArrivalsLocked(arrivals);
  if (arrivals.held && readersWaiting_ > 0) waits_.inputMoved->Signal();
  return arrivals.events | Mark80EventLocked();
}

// Reads what the driver holds, into the handed read while it has room, else into the held
// buffer while it has room; the rest stays in the driver.
void TerminalDevice::MoveArrivalsLocked(Arrivals& arrivals) {
  for (;;) {
    std::uint8_t chunk[4096];
    const bool direct = handed_ != nullptr && handed_->Room() > 0;
    std::uint8_t* const into = direct ? handed_->Next() : chunk;
    const std::size_t want =
        direct ? handed_->Room() : std::min<std::size_t>(sizeof chunk, held_.Room());
    if (want == 0) return;
    const ssize_t n = ::read(fd_.Get(), into, want);
    if (n > 0) {
      if (std::memchr(into, static_cast<unsigned char>(dcb_.EvtChar), std::size_t(n)))
        arrivals.events |= EV_RXFLAG;
      if (direct) {
        handed_->Placed(std::uint32_t(n));
        arrivals.handedReadOver = handed_->Over();
      } else {
        held_.Append(chunk, std::size_t(n));
        arrivals.held = true;
      }
      if (std::size_t(n) < want) return;  // a short read: the driver has nothing more now
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    const int error = n == 0 ? EIO : errno;
    if (IsDeviceGoneError(error)) lost_ = true;
    return;
  }
}

// deIn80Full when the queued input (held and driver) has just reached the mark.
std::uint32_t TerminalDevice::Mark80EventLocked() {
  // Below the limit the driver was emptied just now; only a full buffer leaves bytes there.
  std::uint64_t total = held_.Count();
  int queued = 0;
  if (held_.Room() == 0 && ::ioctl(fd_.Get(), FIONREAD, &queued) == 0 && queued > 0)
    total += std::uint32_t(queued);
  return held_.ReachedMark80(total) ? EV_RX80FULL : 0;
}

// Ends the read handed over, if any, with what it holds, and wakes its caller.
void TerminalDevice::EndHandedReadLocked() {
  if (handed_ == nullptr || handed_->Over()) return;
  handed_->End();
  handedOver_.notify_all();
}

}  // namespace xcom
