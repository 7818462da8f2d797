#pragma once
// The narrow platform layer under the serial port component: one open communications device
// and the calls the component makes on it, named after the Windows calls they stand for.
// Each OS has its own implementation (platform/linux on the shared platform/posix, platform/win32);
// tests and other hosts bring their own through THostedComm's DeviceOpener. Destroying the object
// closes the device (CloseHandle).

#include <cstdint>

#include "LineSettingsReport.h"
#include "StopSignal.h"
#include "XComStructs.h"

namespace xcom {

enum class WaitOutcome {
  Events,   // the driver reported events; the mask holds them
  Stopped,  // the stop signal was set (it wins when both are pending)
  Failed,   // the wait or its outcome failed, or the device went away
};

class CommDevice {
 public:
  virtual ~CommDevice() = default;

  virtual bool SetCommState(const DCB& dcb) = 0;
  virtual bool GetCommState(DCB& dcb) = 0;
  virtual bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) = 0;
  virtual bool PurgeComm(std::uint32_t flags) = 0;
  virtual bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) = 0;
  virtual bool GetCommTimeouts(COMMTIMEOUTS& timeouts) = 0;
  virtual bool GetCommProperties(COMMPROP& properties) = 0;
  virtual bool ClearCommError(std::uint32_t& errors, COMSTAT& status) = 0;
  virtual bool SetCommMask(std::uint32_t mask) = 0;

  // One count of ClearCommError (selector 0: the input queue, 1: the output queue), which
  // clears pending line errors all the same. A device that pays a system call per count
  // answers only the one asked for.
  virtual bool ClearCommErrorCount(int selector, std::uint32_t& count) {
    std::uint32_t errors = 0;
    COMSTAT status{};
    if (!ClearCommError(errors, status)) return false;
    count = selector == 0 ? status.cbInQue : selector == 1 ? status.cbOutQue : 0;
    return true;
  }

  // One write: the bytes the device took within 1000 ms (0 when the write failed). A write
  // still pending after 1000 ms is cancelled, and the bytes that had already left are counted,
  // so that the caller never sends them twice. A device that has gone away ends at once.
  virtual std::uint32_t WriteOverlapped(const std::uint8_t* buffer, std::uint32_t count) = 0;

  // One read of bytes already queued: the bytes read, or kReadFailed when the read failed, with
  // the system error number left as the thread's last error (errno, GetLastError) for the
  // component to report. The device layer reports; it does not raise.
  virtual std::uint32_t ReadOverlapped(std::uint8_t* buffer, std::uint32_t count) = 0;
  static constexpr std::uint32_t kReadFailed = 0xFFFFFFFF;

  // Waits for driver events (the mask set with SetCommMask) or the stop signal. Events that
  // happened while no wait was pending are reported by the next wait.
  virtual WaitOutcome WaitCommEvent(StopSignal& stop, std::uint32_t& eventMask) = 0;

  // Let the transfer loops sleep on the device instead of spinning: return when input may
  // have arrived / output room may have opened, or after `milliseconds`.
  virtual void WaitForInput(std::uint32_t milliseconds) = 0;
  virtual void WaitForOutputRoom(std::uint32_t milliseconds) = 0;

  // The overlapped read: takes the queued bytes into `buffer` at once, then for at most
  // `milliseconds` the monitor thread (in WaitCommEvent) reads arriving bytes straight after
  // them, and the caller wakes once: when `count` bytes are there (or, with `endAtFirstBytes`,
  // the first ones), the time is up, or the read was purged, handed back or the device lost.
  // Answers the bytes read, or kNotHandedOver when the device cannot take the read now (no
  // monitor waiting, the caller is the monitor thread, another read is already handed over):
  // the caller then waits with WaitForInput and reads for itself.
  virtual std::uint32_t ReadWhenArrived(std::uint8_t* /*buffer*/, std::uint32_t /*count*/,
                                        std::uint32_t /*milliseconds*/, bool /*endAtFirstBytes*/) {
    return kNotHandedOver;
  }
  static constexpr std::uint32_t kNotHandedOver = 0xFFFFFFFE;

  // The monitor thread is about to wait for another thread (a synchronised delivery, which the
  // very caller of a handed-over read may have to run) or is ending: every read handed to it
  // goes back to its caller with what it holds, and none is taken until its next wait.
  virtual void HandBackReads() {}

  // Before the device is closed and its settings given back: waits, at most `milliseconds`,
  // until the bytes queued for output have left, so that none leaves at the restored speed.
  virtual void DrainOutput(std::uint32_t /*milliseconds*/) {}

  // True once the device has reported that it is gone (unplugged adapter, hung-up line):
  // transfers then end at once instead of waiting out their time-outs.
  virtual bool DeviceLost() const { return false; }

  // What became of the last SetCommState: a local line takes it whole or refuses it.
  virtual LineSettingsReport SettingsReport() const { return {}; }
};

}  // namespace xcom
