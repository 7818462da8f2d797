#pragma once
// The communications device on a terminal (a UART, a USB adapter, a pseudo-terminal) driven
// through termios, standing in for the Windows communications calls. This is the part every
// POSIX backend shares; the backend opens the device (TerminalOpen.h) and brings its own waits
// (Wakeup.h, DeviceEventWait.h) and line counters (DriverCounters.h).
//
// What each call does here:
// - A pseudo-terminal passes bytes on unchanged and always reports 8 data bits without parity,
//   whatever it is given: there the block's ByteSize and Parity are accepted as they are and
//   answered from the block. Every other driver must take the character format as asked.
// - SetCommState / GetCommState: see LineSettings.h. The last accepted block is kept, and
//   GetCommState answers it overlaid with what the driver reports.
// - Queues: SetupComm sizes are held and reported by GetCommProperties. The input count is the
//   bytes this object holds (see below) plus FIONREAD; the output count is TIOCOUTQ (always 0 on
//   a pseudo-terminal). A failing query counts 0.
// - Events (TerminalEvents.cpp): the monitor thread waits in WaitCommEvent, edge-triggered, so
//   that one arrival of bytes gives one deChar however long older bytes stay unread, and the
//   wait never spins. At each arrival the monitor moves the new bytes from the driver into this
//   object's input buffer (up to the SetupComm input size; the rest waits in the driver, so the
//   driver's own flow control still works), which is how it sees them:
//     deFlag      the event character (EvtChar of the last control block) was among them;
//     deIn80Full  the queued input (held + driver) reached 80 % of the SetupComm input size
//                 (4096 before SetupComm); reported when it crosses that mark, again after it
//                 fell below it;
//     deError, deBreak, deCTS, deDSR, deRLSD, deRing  what the line sampler (LineSampler.h)
//                 found since its last look; lines raise no file event, so they are sampled
//                 every 50 ms while the mask asks for them.
//   A pseudo-terminal has neither counters nor lines: there the wait sleeps until bytes arrive.
//   A hangup (the wait reports it, read() = 0 or EIO) fails the wait, and every later one.
// - Transfers (TerminalTransfers.cpp): writes are non-blocking and wait for room with poll(),
//   1000 ms at most; reads take the held bytes first, then the driver's, and obey the read
//   time-outs when more is asked for than is queued.
// - The overlapped read (ReadWhenArrived): a reader that wants more than is queued hands its
//   buffer to the monitor, which reads arriving bytes straight into it (before the held
//   buffer), applies deFlag to them, reports the arrival as ever, and wakes the reader once,
//   when the read is full. Bytes taken so are no longer queued, so they count towards no
//   deIn80Full. The monitor gives such a read back when it stops, fails, or is about to wait
//   for another thread (a synchronised delivery), and is never handed a read by its own
//   thread.

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "CommDevice.h"
#include "DeviceEventWait.h"
#include "HandedRead.h"
#include "HeldInput.h"
#include "LineRestore.h"
#include "LineSampler.h"
#include "LineSettings.h"
#include "UniqueFd.h"
#include "Wakeup.h"

namespace xcom {

// What the device waits with, made by the backend.
struct TerminalWaits {
  std::unique_ptr<Wakeup> maskChanged;  // SetCommMask during a wait
  std::unique_ptr<Wakeup> inputMoved;   // the monitor moved input while a reader waits
  std::unique_ptr<DeviceEventWait> events;

  // Makes all three for the terminal `fd`; false, with errno set, when one cannot be made.
  bool Make(int fd);
};

class TerminalDevice final : public CommDevice {
 public:
  // `fd` is open, locked and in raw mode; `original` is what it held before the open.
  TerminalDevice(UniqueFd fd, const LineSettings& original, TerminalWaits waits, bool exclusive,
                 bool pseudoTerminal);
  ~TerminalDevice() override;
  TerminalDevice(const TerminalDevice&) = delete;
  TerminalDevice& operator=(const TerminalDevice&) = delete;

  // Settings and queues (TerminalDevice.cpp).
  bool SetCommState(const DCB& dcb) override;
  bool GetCommState(DCB& dcb) override;
  bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override;
  bool PurgeComm(std::uint32_t flags) override;
  bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
  bool GetCommTimeouts(COMMTIMEOUTS& timeouts) override;
  bool GetCommProperties(COMMPROP& properties) override;
  bool ClearCommError(std::uint32_t& errors, COMSTAT& status) override;
  bool ClearCommErrorCount(int selector, std::uint32_t& count) override;
  bool SetCommMask(std::uint32_t mask) override;
  bool DeviceLost() const override { return lost_; }

  // Transfers (TerminalTransfers.cpp).
  std::uint32_t WriteOverlapped(const std::uint8_t* buffer, std::uint32_t count) override;
  std::uint32_t ReadOverlapped(std::uint8_t* buffer, std::uint32_t count) override;
  void WaitForInput(std::uint32_t milliseconds) override;
  void DrainOutput(std::uint32_t milliseconds) override;
  void WaitForOutputRoom(std::uint32_t milliseconds) override;

  // Events and the reads handed to the monitor (TerminalEvents.cpp).
  WaitOutcome WaitCommEvent(StopSignal& stop, std::uint32_t& eventMask) override;
  std::uint32_t ReadWhenArrived(std::uint8_t* buffer, std::uint32_t count,
                                std::uint32_t milliseconds, bool endAtFirstBytes) override;
  void HandBackReads() override;

 private:
  // TerminalDevice.cpp
  bool NoteFailure();
  std::uint32_t ClearLineErrors();
  bool CountInput(std::uint32_t& count);
  bool CountOutput(std::uint32_t& count);
  void SetModemLines(const DCB& dcb);

  // TerminalTransfers.cpp
  std::uint32_t Take(std::uint8_t* buffer, std::uint32_t count, std::uint32_t before);
  std::uint32_t TakeLocked(std::uint8_t* buffer, std::uint32_t count, std::uint32_t before);
  ssize_t ReadFromDriverLocked(std::uint8_t* buffer, std::uint32_t count);
  void WaitReadable(int ms);
  void SleepDeadStep(std::uint32_t milliseconds);

  // TerminalEvents.cpp
  WaitOutcome WaitForEvents(StopSignal& stop, std::uint32_t& eventMask);
  int BeginWait();
  struct Arrivals {
    std::uint32_t events = 0;     // deFlag
    bool held = false;            // bytes went into the held buffer
    bool handedReadOver = false;  // the handed read is full
  };
  std::optional<WaitOutcome> EndWait(bool waited, const ReadyEvents& ready,
                                     std::uint32_t& eventMask, Arrivals& arrivals);
  std::uint32_t TakeArrivalsLocked(Arrivals& arrivals);
  void MoveArrivalsLocked(Arrivals& arrivals);
  std::uint32_t Mark80EventLocked();
  void EndHandedReadLocked();

  const UniqueFd fd_;
  const LineRestore restore_;  // destroyed before fd_ closes
  const TerminalWaits waits_;
  const bool exclusive_;
  const bool pseudoTerminal_;
  std::atomic<bool> lost_{false};

  mutable std::mutex mutex_;  // guards everything below
  DCB dcb_;
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
  LineSampler lines_;
};

}  // namespace xcom
