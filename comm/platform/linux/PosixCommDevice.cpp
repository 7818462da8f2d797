// The communications device on Linux: a terminal device (a UART, a USB adapter, a pseudo-
// terminal) driven through termios, standing in for the Windows communications calls.
//
// What each call does here:
// - Opening: the name is followed once, with O_PATH (which opens no device), and that node is
//   checked (SerialLineCheck.h: a character device of the tty class, not the process's own
//   terminal, not a pseudo-terminal master). Then the same node is opened through
//   /proc/self/fd/N with O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, and the opened device must
//   be the one checked and a terminal: a link switched meanwhile cannot get anything else opened.
//   The device is taken with flock(LOCK_EX | LOCK_NB): a second open by this component or any
//   program that takes flock (the simulated module does) fails, and the kernel drops the lock when
//   the process ends, however it ends. flock is advisory: a program that does not take it can still
//   open the device. On a real serial line TIOCEXCL is set as well, which keeps out other programs
//   of ordinary users (the flag goes with the device's last close); root can open a terminal
//   whatever its exclusive flag says. A pseudo-terminal gets no TIOCEXCL: its flag would outlive
//   this process while the other end lives, and lock out the next open. The line is put in raw mode
//   at once, so that it never echoes or edits what arrives; closing gives it back the settings it
//   had before (LineRestore.h).
// - A pseudo-terminal passes bytes on unchanged and always reports 8 data bits without parity,
//   whatever it is given: there the block's ByteSize and Parity are accepted as they are and
//   answered from the block. Every other driver must take the character format as asked.
// - SetCommState / GetCommState: see LineSettings.h. The last accepted block is kept, and
//   GetCommState answers it overlaid with what the driver reports.
// - Queues: SetupComm sizes are held and reported by GetCommProperties. The input count is the
//   bytes this object holds (see below) plus FIONREAD; the output count is TIOCOUTQ (always 0 on
//   a pseudo-terminal). A failing query counts 0.
// - Events: the monitor thread waits in WaitCommEvent with epoll, edge-triggered, so that one
//   arrival of bytes gives one deChar however long older bytes stay unread, and the wait never
//   spins. At each arrival the monitor moves the new bytes from the driver into this object's
//   input buffer (up to the SetupComm input size; the rest waits in the driver, so the driver's
//   own flow control still works), which is how it sees them:
//     deFlag      the event character (EvtChar of the last control block) was among them;
//     deIn80Full  the queued input (held + driver) reached 80 % of the SetupComm input size
//                 (4096 before SetupComm); reported when it crosses that mark, again after it
//                 fell below it;
//     deError     the driver's framing/overrun/parity/buffer-overrun counters rose (TIOCGICOUNT);
//     deBreak     its break counter rose;
//     deCTS, deDSR, deRLSD, deRing  the driver's modem-line counters (TIOCGICOUNT) or, without
//                 them, the lines themselves (TIOCMGET) changed. Lines raise no file event, so
//                 they are sampled every 50 ms while the mask asks for them.
//   A pseudo-terminal has neither counters nor lines: there the wait sleeps until bytes arrive.
//   A hangup (EPOLLHUP, EPOLLERR, read() = 0 or EIO) fails the wait, and every later one.
// - Transfers: writes are non-blocking and wait for room with poll(), 1000 ms at most; reads
//   take the held bytes first, then the driver's, and obey the read time-outs when more is
//   asked for than is queued.
// - The overlapped read (ReadWhenArrived): a reader that wants more than is queued hands its
//   buffer to the monitor, which reads arriving bytes straight into it (before the held
//   buffer), applies deFlag to them, reports the arrival as ever, and wakes the reader once,
//   when the read is full. Bytes taken so are no longer queued, so they count towards no
//   deIn80Full. The monitor gives such a read back when it stops, fails, or is about to wait
//   for another thread (a synchronised delivery), and is never handed a read by its own
//   thread.

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <pwd.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "CharacterBits.h"
#include "DeviceName.h"
#include "HandedRead.h"
#include "HeldInput.h"
#include "LineEvents.h"
#include "LineRestore.h"
#include "LineSettings.h"
#include "OpenFailureNote.h"
#include "PlatformDevice.h"
#include "ReadTimeouts.h"
#include "SerialLineCheck.h"
#include "UniqueFd.h"

namespace xcom {

namespace {

using Clock = std::chrono::steady_clock;

// GetCommProperties values.
constexpr DWORD SP_SERIALCOMM = 0x0001, PST_RS232 = 0x0001, BAUD_USER = 0x10000000;
constexpr DWORD kAllStandardBauds = 0x0007FFFF;  // BAUD_075 .. BAUD_57600 and BAUD_128K
constexpr DWORD PCF_RTSCTS = 0x0002, PCF_RLSD = 0x0004, PCF_PARITY_CHECK = 0x0008,
                PCF_XONXOFF = 0x0010, PCF_SETXCHAR = 0x0020, PCF_TOTALTIMEOUTS = 0x0040,
                PCF_INTTIMEOUTS = 0x0080;
constexpr DWORD SP_PARITY = 0x0001, SP_BAUD = 0x0002, SP_DATABITS = 0x0004, SP_STOPBITS = 0x0008,
                SP_HANDSHAKING = 0x0010, SP_PARITY_CHECK = 0x0020, SP_RLSD = 0x0040;
constexpr WORD DATABITS_5_TO_8 = 0x000F;
constexpr WORD STOPBITS_10 = 0x0001, STOPBITS_20 = 0x0004, PARITY_ALL = 0x1F00;

constexpr std::chrono::milliseconds kWriteWait{1000};
constexpr std::uint32_t kDefaultQueueSize = 4096;
constexpr int kLineSampleMs = 50;
// How long a wait on a device that is gone sleeps: short, so the caller notices soon, yet
// long enough that a caller's loop around it cannot spin.
constexpr std::uint32_t kDeadDeviceStepMs = 10;
constexpr short kPollDead = POLLHUP | POLLERR | POLLNVAL;

bool IsDeviceGoneError(int error) {
  return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

// Milliseconds left until `deadline`, rounded up, at least 0.
int MsUntil(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, 0x7FFFFFFF));
}

void DrainEventFd(int fd) {
  std::uint64_t value;
  [[maybe_unused]] const ssize_t n = ::read(fd, &value, sizeof value);
}

void SignalEventFd(int fd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

DCB DefaultDcb() {
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof(DCB);
  dcb.fBinary = 1;
  dcb.fDtrControl = 1;
  dcb.fRtsControl = 1;
  return dcb;
}

class PosixCommDevice final : public CommDevice {
 public:
  PosixCommDevice(UniqueFd fd, const LineSettings& original, UniqueFd epoll, UniqueFd maskChanged,
                  UniqueFd inputMoved, bool exclusive, bool pseudoTerminal)
      : fd_(std::move(fd)),
        restore_(fd_.Get(), original),
        epoll_(std::move(epoll)),
        maskChanged_(std::move(maskChanged)),
        inputMoved_(std::move(inputMoved)),
        exclusive_(exclusive),
        pseudoTerminal_(pseudoTerminal) {
    ProbeLineSupport();
    // Until a block is written, the held one is what the driver runs.
    LineSettings line;
    if (ReadLineSettings(fd_.Get(), line)) OverlayLineOnDcb(line, dcb_);
  }

  ~PosixCommDevice() override {
    // TIOCEXCL outlives the descriptor on some drivers: clear it before letting go.
    if (exclusive_) ::ioctl(fd_.Get(), TIOCNXCL);
  }

  PosixCommDevice(const PosixCommDevice&) = delete;
  PosixCommDevice& operator=(const PosixCommDevice&) = delete;

  bool SetCommState(const DCB& dcb) override {
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

  bool GetCommState(DCB& dcb) override {
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
  bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override {
    if (lost_) return Gone();
    std::lock_guard lock(mutex_);
    inQueue_ = inQueue;
    outQueue_ = outQueue;
    held_.SetQueueSize(inQueue);
    return true;
  }

  bool PurgeComm(std::uint32_t flags) override {
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
      if (readersWaiting_ > 0) SignalEventFd(inputMoved_.Get());
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

  bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override {
    if (lost_) return Gone();
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
    return true;
  }

  bool GetCommTimeouts(COMMTIMEOUTS& timeouts) override {
    std::lock_guard lock(mutex_);
    timeouts = timeouts_;
    return true;
  }

  bool GetCommProperties(COMMPROP& p) override {
    static_assert(sizeof(COMMPROP) == 64, "COMMPROP keeps the Windows layout");
    std::memset(&p, 0, sizeof p);
    p.wPacketLength = sizeof(COMMPROP);
    p.wPacketVersion = 2;
    p.dwServiceMask = SP_SERIALCOMM;
    p.dwMaxBaud = BAUD_USER;
    p.dwProvSubType = PST_RS232;
    p.dwProvCapabilities = PCF_RTSCTS | PCF_RLSD | PCF_PARITY_CHECK | PCF_XONXOFF | PCF_SETXCHAR |
                           PCF_TOTALTIMEOUTS | PCF_INTTIMEOUTS;
    p.dwSettableParams = SP_PARITY | SP_BAUD | SP_DATABITS | SP_STOPBITS | SP_HANDSHAKING |
                         SP_PARITY_CHECK | SP_RLSD;
    p.dwSettableBaud = kAllStandardBauds | BAUD_USER;
    p.wSettableData = DATABITS_5_TO_8;
    p.wSettableStopParity = STOPBITS_10 | STOPBITS_20 | PARITY_ALL;
    std::lock_guard lock(mutex_);
    p.dwCurrentTxQueue = outQueue_;
    p.dwCurrentRxQueue = inQueue_;
    return true;
  }

  bool ClearCommError(std::uint32_t& errors, COMSTAT& status) override {
    errors = ClearLineErrors();
    status = COMSTAT{};
    const bool ok = CountInput(status.cbInQue);
    if (ok) CountOutput(status.cbOutQue);
    return ok || NoteFailure();
  }

  // Called before every transfer pass: one ioctl on a pseudo-terminal, and for the input count
  // a brief hold of the lock.
  bool ClearCommErrorCount(int selector, std::uint32_t& count) override {
    ClearLineErrors();
    count = 0;
    bool ok = true;
    if (selector == 0) ok = CountInput(count);
    if (selector == 1) ok = CountOutput(count);
    return ok || NoteFailure();
  }

  bool SetCommMask(std::uint32_t mask) override {
    std::lock_guard lock(mutex_);
    mask_ = mask;
    // As on Windows, changing the mask completes a pending wait (with no events).
    if (waitPending_) {
      SignalEventFd(maskChanged_.Get());
      maskSignalled_ = true;
    }
    return true;
  }

  std::uint32_t WriteOverlapped(const std::uint8_t* buffer, std::uint32_t count) override {
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
      if (r > 0 && (p.revents & kPollDead) != 0 && (p.revents & POLLOUT) == 0) {
        lost_ = true;
        break;
      }
    }
    return written;
  }

  std::uint32_t ReadOverlapped(std::uint8_t* buffer, std::uint32_t count) override {
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

  // While the monitor waits here, it takes reads handed over (ReadWhenArrived); once it is
  // stopped or the wait failed, it gives them back.
  WaitOutcome WaitCommEvent(StopSignal& stop, std::uint32_t& eventMask) override {
    const WaitOutcome outcome = WaitForEvents(stop, eventMask);
    if (outcome != WaitOutcome::Events) HandBackReads();
    return outcome;
  }

  std::uint32_t ReadWhenArrived(std::uint8_t* buffer, std::uint32_t count,
                                std::uint32_t milliseconds, bool endAtFirstBytes) override {
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

  void HandBackReads() override {
    std::lock_guard lock(mutex_);
    monitorTakesReads_ = false;
    EndHandedReadLocked();
  }

  void WaitForInput(std::uint32_t milliseconds) override {
    if (!lost_) WaitReadable(static_cast<int>(std::min<std::uint32_t>(milliseconds, 0x7FFFFFFF)));
    if (lost_) SleepDeadStep(milliseconds);
  }

  // TIOCOUTQ counts down as the line sends (a pseudo-terminal has no line: nothing to wait
  // for); once it is empty, tcdrain waits for the last characters in the UART itself. A line
  // held up by flow control is left as it is when the time is up.
  void DrainOutput(std::uint32_t milliseconds) override {
    if (pseudoTerminal_ || lost_) return;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (int outgoing = 1; outgoing > 0;) {
      if (::ioctl(fd_.Get(), TIOCOUTQ, &outgoing) != 0) return;
      if (outgoing > 0 && Clock::now() >= deadline) return;
      if (outgoing > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::tcdrain(fd_.Get());
  }

  void WaitForOutputRoom(std::uint32_t milliseconds) override {
    if (lost_) return SleepDeadStep(milliseconds);
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    pollfd p{fd_.Get(), POLLOUT, 0};
    const int r =
        ::poll(&p, 1, static_cast<int>(std::min<std::uint32_t>(milliseconds, 0x7FFFFFFF)));
    if (r > 0 && (p.revents & kPollDead) != 0 && (p.revents & POLLOUT) == 0) {
      lost_ = true;
      return SleepDeadStep(milliseconds);
    }
    if (r <= 0) return;
    // The driver calls itself writable long before its queue has drained below the output
    // size the caller counts against: sleep about as long as the line needs to send the excess.
    int outgoing = 0;
    if (::ioctl(fd_.Get(), TIOCOUTQ, &outgoing) != 0 || outgoing <= 0) return;
    std::uint32_t excess, bitsPerSecond, bitsPerChar;
    {
      std::lock_guard lock(mutex_);
      const std::uint32_t size = outQueue_ != 0 ? outQueue_ : kDefaultQueueSize;
      if (std::uint32_t(outgoing) < size) return;
      excess = std::uint32_t(outgoing) - size + 1;
      bitsPerSecond = dcb_.BaudRate != 0 ? dcb_.BaudRate : 9600;
      bitsPerChar = BitsPerCharacter(dcb_.ByteSize, dcb_.Parity != NOPARITY,
                                     dcb_.StopBits == TWOSTOPBITS ? 2u : 1u);
    }
    const std::uint64_t needMs = std::uint64_t(excess) * bitsPerChar * 1000 / bitsPerSecond + 1;
    const int left = MsUntil(deadline);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::uint64_t>(needMs, left)));
  }

  bool DeviceLost() const override { return lost_; }

 private:
  // The lock is taken twice a wake, once before the wait and once after it: a reader polling
  // the queue count beside a busy line meets it as seldom as can be.
  WaitOutcome WaitForEvents(StopSignal& stop, std::uint32_t& eventMask) {
    eventMask = 0;
    if (!WatchStopSignal(stop)) return WaitOutcome::Failed;
    for (;;) {
      // The stop signal is level-triggered in the set: once set, every wait returns it at once.
      if (lost_) return stop.IsSet() ? WaitOutcome::Stopped : WaitOutcome::Failed;
      const int timeout = BeginWait();
      epoll_event ready[4];
      const int n = ::epoll_wait(epoll_.Get(), ready, 4, timeout);
      const int waitError = errno;
      bool handedReadOver = false;
      const std::optional<WaitOutcome> outcome =
          EndWait(std::span(ready, std::size_t(std::max(n, 0))), n < 0 && waitError != EINTR,
                  static_cast<int>(stop.NativeHandle()), eventMask, handedReadOver);
      // Woken after the lock is free, the reader need not wait for it at once.
      if (handedReadOver) handedOver_.notify_all();
      if (outcome) return *outcome;
    }
  }

  // Before a wait: the monitor takes handed reads from now on, a mask change that came after
  // the previous wait is forgotten, and line events need a sampling period. Answers the wait's
  // time-out (-1: none).
  int BeginWait() {
    std::lock_guard lock(mutex_);
    monitorTakesReads_ = true;
    monitorThread_ = std::this_thread::get_id();
    if (maskSignalled_) {
      DrainEventFd(maskChanged_.Get());
      maskSignalled_ = false;
    }
    waitPending_ = true;
    return (mask_ & kLineEvents) != 0 && (countersSupported_ || linesSupported_) ? kLineSampleMs
                                                                                 : -1;
  }

  // After a wait: what its ready descriptors mean. Answers nothing when the wait found no
  // event the mask lets through (wait again).
  std::optional<WaitOutcome> EndWait(std::span<const epoll_event> ready, bool waitFailed,
                                     int stopFd, std::uint32_t& eventMask, bool& handedReadOver) {
    std::lock_guard lock(mutex_);
    waitPending_ = false;
    if (waitFailed) return WaitOutcome::Failed;
    for (const epoll_event& e : ready)
      if (e.data.fd == stopFd) return WaitOutcome::Stopped;  // it wins over events
    std::uint32_t found = 0;
    bool maskChanged = false;
    for (const epoll_event& e : ready) {
      if (e.data.fd == maskChanged_.Get()) {
        maskChanged = true;
      } else if (e.data.fd == fd_.Get()) {
        if ((e.events & (EPOLLHUP | EPOLLERR)) != 0) {
          lost_ = true;
          return WaitOutcome::Failed;
        }
        if ((e.events & EPOLLIN) != 0) {
          found |= EV_RXCHAR | TakeArrivalsLocked(handedReadOver);
          if (lost_) return WaitOutcome::Failed;
        }
      }
    }
    if ((countersSupported_ || linesSupported_) && ((mask_ & kLineEvents) != 0 || found != 0))
      found |= LineEventsLocked();
    found &= mask_;
    if (found == 0 && !maskChanged) return std::nullopt;
    eventMask = found;
    return WaitOutcome::Events;
  }

  // A failed device call: notes a device that is gone, keeps errno, answers false.
  bool NoteFailure() {
    const int error = errno;
    if (IsDeviceGoneError(error)) lost_ = true;
    errno = error;
    return false;
  }
  static bool Gone() {
    errno = EIO;
    return false;
  }

  void SleepDeadStep(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::min(milliseconds, kDeadDeviceStepMs)));
  }

  // Copies up to `count` bytes, the held ones first, then the driver's. Answers kReadFailed,
  // with errno set, when the device read fails and nothing was taken in this call (`before`
  // bytes came in earlier passes of the same ReadOverlapped: then the bytes are handed over and
  // the failure is left for the next read).
  std::uint32_t Take(std::uint8_t* buffer, std::uint32_t count, std::uint32_t before) {
    std::lock_guard lock(mutex_);
    return TakeLocked(buffer, count, before);
  }
  std::uint32_t TakeLocked(std::uint8_t* buffer, std::uint32_t count, std::uint32_t before) {
    std::uint32_t got = held_.Take(buffer, count);
    while (got < count) {
      const ssize_t n = ReadFromDriver(buffer + got, count - got);
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

  // One driver read for a reader that wants `count` bytes. A small request takes as much as
  // one driver read brings (the driver hands out at most a page at a time) and holds what the
  // caller did not ask for: a caller reading a few bytes at a time then costs one system call
  // per page rather than one per call. Answers as read() does.
  ssize_t ReadFromDriver(std::uint8_t* buffer, std::uint32_t count) {
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
  void WaitReadable(int ms) {
    {
      std::lock_guard lock(mutex_);
      if (held_.Count() > 0) return;
      if (readersWaiting_ == 0) DrainEventFd(inputMoved_.Get());
      ++readersWaiting_;
    }
    pollfd p[2] = {{fd_.Get(), POLLIN, 0}, {inputMoved_.Get(), POLLIN, 0}};
    int r;
    do {
      r = ::poll(p, 2, ms);
    } while (r < 0 && errno == EINTR);
    if (r > 0 && (p[0].revents & kPollDead) != 0) lost_ = true;
    std::lock_guard lock(mutex_);
    --readersWaiting_;
  }

  // The monitor, at an arrival: moves new bytes into the read handed over, if any, and the
  // rest into the held buffer, and answers the events they make (deFlag, deIn80Full).
  // `handedReadOver` is set when the read handed over is complete: its caller is to be woken.
  std::uint32_t TakeArrivalsLocked(bool& handedReadOver) {
    std::uint32_t events = 0;
    bool moved = false;
    for (;;) {
      std::uint8_t chunk[4096];
      const bool direct = handed_ != nullptr && handed_->Room() > 0;
      std::uint8_t* const into = direct ? handed_->Next() : chunk;
      const std::size_t want =
          direct ? handed_->Room() : std::min<std::size_t>(sizeof chunk, held_.Room());
      if (want == 0) break;
      const ssize_t n = ::read(fd_.Get(), into, want);
      if (n > 0) {
        if (std::memchr(into, static_cast<unsigned char>(dcb_.EvtChar), std::size_t(n)))
          events |= EV_RXFLAG;
        if (direct) {
          handed_->Placed(std::uint32_t(n));
          handedReadOver = handed_->Over();
        } else {
          held_.Append(chunk, std::size_t(n));
          moved = true;
        }
        if (std::size_t(n) < want) break;  // a short read: the driver has nothing more now
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) break;
      const int error = n == 0 ? EIO : errno;
      if (IsDeviceGoneError(error)) lost_ = true;
      break;
    }
    if (moved && readersWaiting_ > 0) SignalEventFd(inputMoved_.Get());
    // Below the limit the driver was emptied just now; only a full buffer leaves bytes there.
    std::uint64_t total = held_.Count();
    int queued = 0;
    if (held_.Room() == 0 && ::ioctl(fd_.Get(), FIONREAD, &queued) == 0 && queued > 0)
      total += std::uint32_t(queued);
    if (held_.ReachedMark80(total)) events |= EV_RX80FULL;
    return events;
  }

  // Ends the read handed over, if any, with what it holds, and wakes its caller.
  void EndHandedReadLocked() {
    if (handed_ == nullptr || handed_->Over()) return;
    handed_->End();
    handedOver_.notify_all();
  }

  std::uint32_t ClearLineErrors() {
    if (!countersSupported_) return 0;
    std::lock_guard lock(mutex_);
    return LineErrorsLocked();
  }

  // The input count: the held bytes, then the driver's. Read in this order, a monitor moving
  // bytes in between can make the sum short (the next call counts them) but never too large.
  // False (errno set) when the driver cannot be asked.
  bool CountInput(std::uint32_t& count) {
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
  bool CountOutput(std::uint32_t& count) {
    int outgoing = 0;
    if (pseudoTerminal_) return true;
    if (::ioctl(fd_.Get(), TIOCOUTQ, &outgoing) != 0) return false;
    if (outgoing > 0) count = std::uint32_t(outgoing);
    return true;
  }

  // Counter-based line events since the last look (deError, deBreak, modem lines).
  std::uint32_t LineEventsLocked() {
    std::uint32_t events = 0;
    if (countersSupported_) {
      serial_icounter_struct now{};
      if (::ioctl(fd_.Get(), TIOCGICOUNT, &now) != 0) return 0;
      events = EventsFromCounters(eventCounters_, now);
      eventCounters_ = now;
    } else if (linesSupported_) {
      int now = 0;
      if (::ioctl(fd_.Get(), TIOCMGET, &now) != 0) return 0;
      events = EventsFromModemLines(eventLines_, now);
      eventLines_ = now;
    }
    return events;
  }

  // ClearCommError's error word: what the driver's error counters gained since the last call.
  std::uint32_t LineErrorsLocked() {
    if (!countersSupported_) return 0;
    serial_icounter_struct now{};
    if (::ioctl(fd_.Get(), TIOCGICOUNT, &now) != 0) return 0;
    const std::uint32_t errors = ErrorsFromCounters(errorCounters_, now);
    errorCounters_ = now;
    return errors;
  }

  void ProbeLineSupport() {
    serial_icounter_struct counters{};
    countersSupported_ = ::ioctl(fd_.Get(), TIOCGICOUNT, &counters) == 0;
    eventCounters_ = errorCounters_ = counters;
    int lines = 0;
    linesSupported_ = ::ioctl(fd_.Get(), TIOCMGET, &lines) == 0;
    eventLines_ = lines;
  }

  void SetModemLines(const DCB& dcb) {
    // Where the driver has no modem lines (a pseudo-terminal) these calls fail; that is fine.
    const int dtr = TIOCM_DTR, rts = TIOCM_RTS;
    ::ioctl(fd_.Get(), dcb.fDtrControl != 0 ? TIOCMBIS : TIOCMBIC, &dtr);
    // RTS_CONTROL_TOGGLE (3) would need the driver's RS-485 mode; the line rests low instead.
    const bool rtsOn = dcb.fRtsControl == 1 || dcb.fRtsControl == 2;
    ::ioctl(fd_.Get(), rtsOn ? TIOCMBIS : TIOCMBIC, &rts);
  }

  // Puts the caller's stop signal into the epoll set, once per signal: the set keeps it for
  // every later wait.
  bool WatchStopSignal(const StopSignal& stop) {
    if (stop.Serial() == watchedSerial_) return true;
    const int stopFd = static_cast<int>(stop.NativeHandle());
    if (stopFd != watchedStop_ && watchedStop_ >= 0)
      ::epoll_ctl(epoll_.Get(), EPOLL_CTL_DEL, watchedStop_, nullptr);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = stopFd;
    // EEXIST: the previous signal had the same number and is still open. A closed descriptor
    // left the set by itself, so a new signal that got its number is added again here.
    if (::epoll_ctl(epoll_.Get(), EPOLL_CTL_ADD, stopFd, &ev) != 0 && errno != EEXIST) return false;
    watchedStop_ = stopFd;
    watchedSerial_ = stop.Serial();
    return true;
  }

  const UniqueFd fd_;
  const LineRestore restore_;  // destroyed before fd_ closes
  const UniqueFd epoll_;
  const UniqueFd maskChanged_;  // eventfd: SetCommMask during a wait
  const UniqueFd inputMoved_;   // eventfd: the monitor moved input while a reader waits
  const bool exclusive_;
  const bool pseudoTerminal_;
  std::atomic<bool> lost_{false};
  int watchedStop_ = -1;  // monitor thread only
  std::uint64_t watchedSerial_ = 0;

  mutable std::mutex mutex_;  // guards everything below
  DCB dcb_ = DefaultDcb();
  COMMTIMEOUTS timeouts_{};
  std::uint32_t inQueue_ = 0;
  std::uint32_t outQueue_ = 0;
  std::uint32_t mask_ = 0;
  bool waitPending_ = false;
  bool maskSignalled_ = false;
  int readersWaiting_ = 0;
  unsigned readAborts_ = 0;
  HeldInput held_;
  HandedRead* handed_ = nullptr;  // the read handed to the monitor, while its caller waits
  std::condition_variable handedOver_;
  bool monitorTakesReads_ = false;  // the monitor is in WaitCommEvent or delivering beside it
  std::thread::id monitorThread_;
  bool countersSupported_ = false;
  bool linesSupported_ = false;
  serial_icounter_struct eventCounters_{};
  serial_icounter_struct errorCounters_{};
  int eventLines_ = 0;
};

bool AddToEpoll(int epoll, int fd, std::uint32_t events) {
  epoll_event ev{};
  ev.events = events;
  ev.data.fd = fd;
  return ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &ev) == 0;
}

// What an errno of stat() or open() means to the person who typed the name.
OpenFailure OpenFailureOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case ENXIO:   // a device node without its driver or hardware
    case ENODEV:  // the same, or an adapter unplugged a moment ago
    case EIO:     // a port whose hardware does not answer
      return OpenFailure::NoSuchDevice;
    case EACCES:
    case EPERM:
    case EROFS:
      return OpenFailure::PermissionDenied;
    case EBUSY:  // TIOCEXCL set by another program
    case EWOULDBLOCK:
      return OpenFailure::Busy;
    default:
      return OpenFailure::Other;
  }
}

// Notes why the open failed (errno as the failing call left it) and answers no device.
std::unique_ptr<CommDevice> Refused(OpenFailure reason, int error) {
  NoteOpenFailure(reason, error);
  return nullptr;
}

// The verdict of the look before opening, as the reason noted for the operator.
std::unique_ptr<CommDevice> RefusedBeforeOpening(const SerialLineVerdict& verdict) {
  if (verdict.reason == OpenFailure::Other)
    return Refused(OpenFailureOf(verdict.systemError), verdict.systemError);
  return Refused(verdict.reason, verdict.systemError);
}

// Permission denied: notes who owns the device, so the operator learns whether a group helps.
std::unique_ptr<CommDevice> RefusedPermission(const struct stat& info, int error) {
  OpenFailureInfo failure{OpenFailure::PermissionDenied, error, {}, {}};
  char buffer[4096];
  passwd user{};
  passwd* userFound = nullptr;
  if (::getpwuid_r(info.st_uid, &user, buffer, sizeof buffer, &userFound) == 0 && userFound)
    failure.deviceOwner = user.pw_name;
  group owners{};
  group* groupFound = nullptr;
  if (::getgrgid_r(info.st_gid, &owners, buffer, sizeof buffer, &groupFound) == 0 && groupFound)
    failure.deviceGroup = owners.gr_name;
  NoteOpenFailure(std::move(failure));
  return nullptr;
}

// Opens the checked node through its O_PATH descriptor: /proc/self/fd/N leads to the inode the
// descriptor holds, not to whatever the name leads to by now. Then makes sure it is that device
// and a terminal.
UniqueFd OpenChecked(const UniqueFd& node, const struct stat& checked) {
  const std::string held = "/proc/self/fd/" + std::to_string(node.Get());
  UniqueFd fd(::open(held.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) return fd;
  struct stat info;
  if (::fstat(fd.Get(), &info) != 0 || !S_ISCHR(info.st_mode) || info.st_rdev != checked.st_rdev ||
      info.st_ino != checked.st_ino || info.st_dev != checked.st_dev || !::isatty(fd.Get())) {
    errno = ENOTTY;
    return UniqueFd();
  }
  return fd;
}

}  // namespace

std::unique_ptr<CommDevice> OpenPlatformDevice(const std::string& name) {
  // An empty name would resolve to the /dev directory itself: it names no device. Nor does a
  // name with a zero byte, which the system would cut short there and take for another name.
  if (name.empty()) return Refused(OpenFailure::NoSuchDevice, ENOENT);
  if (name.find('\0') != std::string::npos) return Refused(OpenFailure::NoSuchDevice, EINVAL);
  const std::string path = DevicePathForName(name);
  // The name is followed once, to a descriptor that opens no device (O_PATH); the checks and
  // the open both take that node, so a link switched between them changes nothing.
  const UniqueFd node(::open(path.c_str(), O_PATH | O_CLOEXEC));
  if (!node.Valid()) {
    const int error = errno;
    return Refused(OpenFailureOf(error), error);
  }
  const SerialLineVerdict verdict = CheckSerialLineAt(node.Get());
  if (verdict.reason != OpenFailure::None) return RefusedBeforeOpening(verdict);
  UniqueFd fd = OpenChecked(node, verdict.info);
  if (!fd.Valid()) {
    const int error = errno;
    if (error == ENOTTY) return Refused(OpenFailure::NotSerialDevice, error);
    if (OpenFailureOf(error) == OpenFailure::PermissionDenied)
      return RefusedPermission(verdict.info, error);
    return Refused(OpenFailureOf(error), error);
  }
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {  // in use
    const int error = errno;
    return Refused(error == EWOULDBLOCK ? OpenFailure::Busy : OpenFailure::Other, error);
  }
  const bool pseudoTerminal = IsPseudoTerminalSlave(verdict.info.st_rdev);
  LineSettings original;
  if (!ReadLineSettings(fd.Get(), original)) {
    const int error = errno;
    return Refused(OpenFailureOf(error), error);
  }
  const bool exclusive = !pseudoTerminal && ::ioctl(fd.Get(), TIOCEXCL) == 0;
  LineSettings line = original;
  MakeRaw(line);
  UniqueFd epoll(::epoll_create1(EPOLL_CLOEXEC));
  UniqueFd maskChanged(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  UniqueFd inputMoved(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!WriteLineSettings(fd.Get(), line, false) || !epoll.Valid() || !maskChanged.Valid() ||
      !inputMoved.Valid() || !AddToEpoll(epoll.Get(), fd.Get(), EPOLLIN | EPOLLET) ||
      !AddToEpoll(epoll.Get(), maskChanged.Get(), EPOLLIN)) {
    const int error = errno;
    WriteLineSettings(fd.Get(), original, false);
    if (exclusive) ::ioctl(fd.Get(), TIOCNXCL);
    return Refused(OpenFailureOf(error), error);
  }
  NoteOpenFailure(OpenFailure::None);
  return std::make_unique<PosixCommDevice>(std::move(fd), original, std::move(epoll),
                                           std::move(maskChanged), std::move(inputMoved), exclusive,
                                           pseudoTerminal);
}

// Linux is not the Windows NT platform, so the limit is the 8192 bytes the port settings allow
// on every other host. The kernel's queues do not depend on it (see SetupComm).
std::uint16_t PlatformQueueSizeLimit() {
  return 8192;
}

}  // namespace xcom
