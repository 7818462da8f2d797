// The terminal device's settings, queues and error word; its transfers and events have files
// of their own.
#include "TerminalDevice.h"

#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstring>

#include "DeviceGone.h"
#include "TerminalProperties.h"

namespace xcom {

namespace {

DCB DefaultDcb() {
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof(DCB);
  dcb.fBinary = 1;
  dcb.fDtrControl = 1;
  dcb.fRtsControl = 1;
  return dcb;
}

bool Gone() {
  errno = EIO;
  return false;
}

}  // namespace

bool TerminalWaits::Make(int fd) {
  maskChanged = MakeWakeup();
  inputMoved = MakeWakeup();
  if (!maskChanged || !inputMoved) return false;
  events = MakeDeviceEventWait(fd, maskChanged->Descriptor());
  return events != nullptr;
}

TerminalDevice::TerminalDevice(UniqueFd fd, const LineSettings& original, TerminalWaits waits,
                               bool exclusive, bool pseudoTerminal)
    : fd_(std::move(fd)),
      restore_(fd_.Get(), original),
      waits_(std::move(waits)),
      exclusive_(exclusive),
      pseudoTerminal_(pseudoTerminal),
      dcb_(DefaultDcb()),
      lines_(fd_.Get()) {
  // Until a block is written, the held one is what the driver runs.
  LineSettings line;
  if (ReadLineSettings(fd_.Get(), line)) OverlayLineOnDcb(line, dcb_);
}

TerminalDevice::~TerminalDevice() {
  // TIOCEXCL outlives the descriptor on some drivers: clear it before letting go.
  if (exclusive_) ::ioctl(fd_.Get(), TIOCNXCL);
}

bool TerminalDevice::SetCommState(const DCB& dcb) {
  LineSettings line;
  if (!ReadLineSettings(fd_.Get(), line)) return NoteFailure();
  if (!ApplyDcbToLine(dcb, line)) {
    errno = EINVAL;
    return false;
  }
  if (!WriteLineSettings(fd_.Get(), line, !pseudoTerminal_)) return NoteFailure();
  SetModemLines(dcb);
  std::lock_guard lock(mutex_);
  dcb_ = dcb;
  return true;
}

bool TerminalDevice::GetCommState(DCB& dcb) {
  LineSettings line;
  if (!ReadLineSettings(fd_.Get(), line)) return NoteFailure();
  DCB out;
  {
    std::lock_guard lock(mutex_);
    out = dcb_;
  }
  OverlayLineOnDcb(line, out, !pseudoTerminal_);
  int bits = 0;
  if (::ioctl(fd_.Get(), TIOCMGET, &bits) == 0)
    OverlayModemLinesOnDcb((bits & TIOCM_DTR) != 0, (bits & TIOCM_RTS) != 0, out);
  out.DCBlength = sizeof(DCB);
  dcb = out;
  return true;
}

// The sizes only steer this layer (the input buffer's size, the 80 % mark, the output-room
// wait); the kernel's own queues have fixed sizes.
bool TerminalDevice::SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
  if (lost_) return Gone();
  std::lock_guard lock(mutex_);
  inQueue_ = inQueue;
  outQueue_ = outQueue;
  held_.SetQueueSize(inQueue);
  return true;
}

bool TerminalDevice::PurgeComm(std::uint32_t flags) {
  if ((flags & ~std::uint32_t(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) !=
      0) {
    errno = EINVAL;
    return false;
  }
  bool ok = true;
  std::lock_guard lock(mutex_);
  if (flags & PURGE_RXABORT) {
    // Ends a read that waits for more bytes (ReadOverlapped on another thread).
    ++readAborts_;
    if (readersWaiting_ > 0) waits_.inputMoved->Signal();
    EndHandedReadLocked();
  }
  if (flags & PURGE_RXCLEAR) {
    held_.Purge();
    ok = ::tcflush(fd_.Get(), TCIFLUSH) == 0 && ok;
  }
  if (flags & PURGE_TXCLEAR) ok = ::tcflush(fd_.Get(), TCOFLUSH) == 0 && ok;
  // PURGE_TXABORT: a write never stays pending after WriteOverlapped, so there is none to end.
  return ok || NoteFailure();
}

bool TerminalDevice::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
  if (lost_) return Gone();
  std::lock_guard lock(mutex_);
  timeouts_ = timeouts;
  return true;
}

bool TerminalDevice::GetCommTimeouts(COMMTIMEOUTS& timeouts) {
  std::lock_guard lock(mutex_);
  timeouts = timeouts_;
  return true;
}

bool TerminalDevice::GetCommProperties(COMMPROP& properties) {
  std::lock_guard lock(mutex_);
  DescribeTerminal(properties, inQueue_, outQueue_);
  return true;
}

bool TerminalDevice::ClearCommError(std::uint32_t& errors, COMSTAT& status) {
  errors = ClearLineErrors();
  status = COMSTAT{};
  const bool ok = CountInput(status.cbInQue);
  if (ok) CountOutput(status.cbOutQue);
  return ok || NoteFailure();
}

// Called before every transfer pass: one ioctl on a pseudo-terminal, and for the input count
// a brief hold of the lock.
bool TerminalDevice::ClearCommErrorCount(int selector, std::uint32_t& count) {
  ClearLineErrors();
  count = 0;
  bool ok = true;
  if (selector == 0) ok = CountInput(count);
  if (selector == 1) ok = CountOutput(count);
  return ok || NoteFailure();
}

bool TerminalDevice::SetCommMask(std::uint32_t mask) {
  std::lock_guard lock(mutex_);
  mask_ = mask;
  // As on Windows, changing the mask completes a pending wait (with no events).
  if (waitPending_) {
    waits_.maskChanged->Signal();
    maskSignalled_ = true;
  }
  return true;
}

// A failed device call: notes a device that is gone, keeps errno, answers false.
bool TerminalDevice::NoteFailure() {
  const int error = errno;
  if (IsDeviceGoneError(error)) lost_ = true;
  errno = error;
  return false;
}

// ClearCommError's error word: what the driver's error counters gained since the last call.
std::uint32_t TerminalDevice::ClearLineErrors() {
  if (!lines_.HasCounters()) return 0;
  std::lock_guard lock(mutex_);
  return lines_.ErrorsSinceLastLook();
}

// The input count: the held bytes, then the driver's. Read in this order, a monitor moving
// bytes in between can make the sum short (the next call counts them) but never too large.
// False (errno set) when the driver cannot be asked.
bool TerminalDevice::CountInput(std::uint32_t& count) {
  // Held and driver bytes are counted under the lock the monitor moves bytes between them
  // under: a count taken halfway through a move would miss the bytes being moved.
  std::lock_guard lock(mutex_);
  const std::uint32_t held = held_.Count();
  int queued = 0;
  const bool ok = ::ioctl(fd_.Get(), FIONREAD, &queued) == 0;
  count = held + (ok && queued > 0 ? std::uint32_t(queued) : 0);
  return ok;
}

// The output count (TIOCOUTQ); a pseudo-terminal always reads 0 there, so it is not asked.
bool TerminalDevice::CountOutput(std::uint32_t& count) {
  int outgoing = 0;
  if (pseudoTerminal_) return true;
  if (::ioctl(fd_.Get(), TIOCOUTQ, &outgoing) != 0) return false;
  if (outgoing > 0) count = std::uint32_t(outgoing);
  return true;
}

void TerminalDevice::SetModemLines(const DCB& dcb) {
  // Where the driver has no modem lines (a pseudo-terminal) these calls fail; that is fine.
  const int dtr = TIOCM_DTR, rts = TIOCM_RTS;
  ::ioctl(fd_.Get(), dcb.fDtrControl != 0 ? TIOCMBIS : TIOCMBIC, &dtr);
  // RTS_CONTROL_TOGGLE (3) would need the driver's RS-485 mode; the line rests low instead.
  const bool rtsOn = dcb.fRtsControl == 1 || dcb.fRtsControl == 2;
  ::ioctl(fd_.Get(), rtsOn ? TIOCMBIS : TIOCMBIC, &rts);
}

}  // namespace xcom
