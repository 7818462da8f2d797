// The communications device on Windows: the Win32 communications API on an exclusive,
// overlapped handle. Each call of the component goes to the system call of the same name.
//
// - Opening: CreateFileA("\\.\" + name, GENERIC_READ | GENERIC_WRITE, share mode 0, no security
//   attributes, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, no template).
// - Transfers: one overlapped WriteFile / ReadFile each, with its own OVERLAPPED and an
//   unnamed manual-reset event created signalled, completed with GetOverlappedResult.
//   A write still pending after 1000 ms is cancelled (CancelIoEx), and the call waits for the
//   cancellation before its OVERLAPPED goes away; it answers what the device really took.
// - Events: WaitCommEvent on an OVERLAPPED that lives as long as the device, then
//   WaitForMultipleObjects on [stop signal, its event] and GetOverlappedResult. A wait left
//   pending by the stop signal is ended by the next SetCommMask (the monitor thread sets the
//   mask to 0 on its way out) or, at the latest, before the handle is closed.
// - Loss: once a transfer or wait fails with an error that means the device is gone (unplugged
//   adapter, hung-up line), DeviceLost() answers true.

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

#include "OpenFailureNote.h"
#include "PlatformDevice.h"
#include "UniqueHandle.h"
#include "WinTypes.h"

namespace xcom {

namespace {

constexpr DWORD kWriteWaitMs = 1000;
// How long a cancelled or mask-ended operation may take to report its end. An operation that
// never does keeps its OVERLAPPED for good (a small leak) rather than have the system write
// into freed memory.
constexpr DWORD kSettleMs = 2000;
// The transfer loops' pause while they wait for input or output room.
constexpr DWORD kPollSliceMs = 2;

// Errors after which the device is gone for this handle.
bool MeansDeviceLost(DWORD error) {
  switch (error) {
    case ERROR_BAD_COMMAND:    // USB adapter unplugged
    case ERROR_ACCESS_DENIED:  // USB adapter unplugged, on some drivers
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NOT_READY:    // hung-up line (Wine on a pseudo-terminal)
    case ERROR_BROKEN_PIPE:  // hung-up line (Wine on a pseudo-terminal)
    case ERROR_INVALID_HANDLE:
    case ERROR_DEVICE_NOT_CONNECTED:
      return true;
    default:
      return false;
  }
}

// One overlapped operation: the OVERLAPPED and its event (manual reset, created signalled).
struct OverlappedOp {
  OVERLAPPED overlapped{};
  UniqueHandle event;
  DWORD mask = 0;  // filled by WaitCommEvent

  OverlappedOp() : event(::CreateEventA(nullptr, TRUE, TRUE, nullptr)) {
    overlapped.hEvent = event.Get();
  }
  bool Valid() const { return event.Valid(); }
};

// Waits until a pending operation has ended after it was cancelled or told to end. False
// when it did not end: the caller must then keep `op` alive for ever.
bool AwaitEnd(HANDLE device, OverlappedOp& op) {
  if (::WaitForSingleObject(op.event.Get(), kSettleMs) == WAIT_OBJECT_0) return true;
  ::CancelIoEx(device, &op.overlapped);
  return ::WaitForSingleObject(op.event.Get(), kSettleMs) == WAIT_OBJECT_0;
}

class Win32CommDevice final : public CommDevice {
 public:
  explicit Win32CommDevice(UniqueHandle handle) : handle_(std::move(handle)) {}

  ~Win32CommDevice() override {
    // Never close the handle under a pending event wait: end it first (SetCommMask ends it on
    // Windows and under Wine; CancelIoEx is the fallback).
    if (waitPending_) {
      ::SetCommMask(handle_.Get(), 0);
      EndPendingWait();
    }
  }

  Win32CommDevice(const Win32CommDevice&) = delete;
  Win32CommDevice& operator=(const Win32CommDevice&) = delete;

  bool SetCommState(const DCB& dcb) override {
    DCB copy = dcb;
    return ::SetCommState(handle_.Get(), &copy) != FALSE;
  }

  bool GetCommState(DCB& dcb) override { return ::GetCommState(handle_.Get(), &dcb) != FALSE; }

  bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override {
    return ::SetupComm(handle_.Get(), inQueue, outQueue) != FALSE;
  }

  bool PurgeComm(std::uint32_t flags) override {
    return ::PurgeComm(handle_.Get(), flags) != FALSE;
  }

  bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override {
    COMMTIMEOUTS copy = timeouts;
    return ::SetCommTimeouts(handle_.Get(), &copy) != FALSE;
  }

  bool GetCommTimeouts(COMMTIMEOUTS& timeouts) override {
    return ::GetCommTimeouts(handle_.Get(), &timeouts) != FALSE;
  }

  bool GetCommProperties(COMMPROP& properties) override {
    return ::GetCommProperties(handle_.Get(), &properties) != FALSE;
  }

  bool ClearCommError(std::uint32_t& errors, COMSTAT& status) override {
    DWORD flags = 0;
    const bool ok = ::ClearCommError(handle_.Get(), &flags, &status) != FALSE;
    if (!ok) NoteFailure(::GetLastError());
    errors = flags;
    return ok;
  }

  bool SetCommMask(std::uint32_t mask) override {
    const bool ok = ::SetCommMask(handle_.Get(), mask) != FALSE;
    // A new mask ends a pending event wait (it completes with an empty mask); collect it so
    // that its OVERLAPPED is free again.
    if (waitPending_) EndPendingWait();
    return ok;
  }

  std::uint32_t WriteOverlapped(const std::uint8_t* buffer, std::uint32_t count) override {
    auto op = std::make_unique<OverlappedOp>();
    if (!op->Valid()) return 0;
    DWORD written = 0;
    if (!::WriteFile(handle_.Get(), buffer, count, &written, &op->overlapped)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_IO_PENDING) {
        // Refused at once (a device that has gone away): nothing is pending, nothing to wait
        // for.
        NoteFailure(error);
        return 0;
      }
    }
    if (::WaitForSingleObject(op->event.Get(), kWriteWaitMs) != WAIT_OBJECT_0) {
      // Not done within its 1000 ms: cancel it, and wait for the cancellation before the
      // OVERLAPPED and its event are released.
      ::CancelIoEx(handle_.Get(), &op->overlapped);
      if (::WaitForSingleObject(op->event.Get(), kSettleMs) != WAIT_OBJECT_0) {
        [[maybe_unused]] OverlappedOp* stillOwnedBySystem = op.release();
        return 0;
      }
    }
    // Complete (or cancelled): the count is what the device took, also of a cancelled write,
    // so that a caller never sends those bytes twice.
    written = 0;
    if (!::GetOverlappedResult(handle_.Get(), &op->overlapped, &written, FALSE)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_OPERATION_ABORTED) NoteFailure(error);
    }
    return written;
  }

  std::uint32_t ReadOverlapped(std::uint8_t* buffer, std::uint32_t count) override {
    auto op = std::make_unique<OverlappedOp>();
    if (!op->Valid()) return kReadFailed;  // CreateEventA left its error
    DWORD read = 0;
    if (!::ReadFile(handle_.Get(), buffer, count, &read, &op->overlapped)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_IO_PENDING) {
        // Failed at once: nothing is pending and its event may never be signalled.
        NoteFailure(error);
        op.reset();
        ::SetLastError(error);
        return kReadFailed;
      }
    }
    // The caller asks only for bytes the input queue already holds, so this completes at once;
    // otherwise the device's read time-outs bound it.
    ::WaitForSingleObject(op->event.Get(), INFINITE);
    if (!::GetOverlappedResult(handle_.Get(), &op->overlapped, &read, FALSE)) {
      const DWORD error = ::GetLastError();
      NoteFailure(error);
      op.reset();
      ::SetLastError(error);
      return kReadFailed;
    }
    return read;
  }

  WaitOutcome WaitCommEvent(StopSignal& stop, std::uint32_t& eventMask) override {
    if (!waitPending_) {
      if (!wait_) wait_ = std::make_unique<OverlappedOp>();
      if (!wait_->Valid()) return WaitOutcome::Failed;
      wait_->mask = 0;
      if (!::WaitCommEvent(handle_.Get(), &wait_->mask, &wait_->overlapped)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
          // The wait cannot even start (for instance the device has gone away). Reporting a
          // failure ends the monitor; retrying here would spin.
          NoteFailure(error);
          return WaitOutcome::Failed;
        }
      }
      waitPending_ = true;
    }
    // The stop signal comes first: when both are signalled, it wins.
    const HANDLE list[2] = {reinterpret_cast<HANDLE>(stop.NativeHandle()), wait_->event.Get()};
    const DWORD result = ::WaitForMultipleObjects(2, list, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) return WaitOutcome::Stopped;
    if (result != WAIT_OBJECT_0 + 1) return WaitOutcome::Failed;
    DWORD unused = 0;
    if (!::GetOverlappedResult(handle_.Get(), &wait_->overlapped, &unused, FALSE)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_IO_INCOMPLETE) waitPending_ = false;
      NoteFailure(error);
      return WaitOutcome::Failed;
    }
    waitPending_ = false;
    eventMask = wait_->mask;
    return WaitOutcome::Events;
  }

  void WaitForInput(std::uint32_t milliseconds) override {
    ::Sleep(std::min<DWORD>(milliseconds, kPollSliceMs));
  }

  void WaitForOutputRoom(std::uint32_t milliseconds) override {
    ::Sleep(std::min<DWORD>(milliseconds, kPollSliceMs));
  }

  bool DeviceLost() const override { return lost_; }

 private:
  void NoteFailure(DWORD error) {
    if (MeansDeviceLost(error)) lost_ = true;
  }

  // Collects a pending event wait that was told to end; keeps its OVERLAPPED for good if the
  // system never reports the end.
  void EndPendingWait() {
    if (AwaitEnd(handle_.Get(), *wait_)) {
      DWORD unused = 0;
      ::GetOverlappedResult(handle_.Get(), &wait_->overlapped, &unused, FALSE);
    } else {
      [[maybe_unused]] OverlappedOp* stillOwnedBySystem = wait_.release();
    }
    waitPending_ = false;
  }

  UniqueHandle handle_;
  // The event wait. It belongs to the monitor thread, which alone waits and, on its way out,
  // sets the mask that ends it; the handle is closed only after that thread has ended.
  std::unique_ptr<OverlappedOp> wait_;
  std::atomic<bool> waitPending_{false};
  std::atomic<bool> lost_{false};
};

// What an error of CreateFileA on "\\.\<name>" means to the person who typed the name.
OpenFailure OpenFailureOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:  // no such port
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BAD_UNIT:
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
      return OpenFailure::NoSuchDevice;
    // A serial port is opened with share mode 0: while another program holds it, the system
    // answers "access denied". That is by far its most common meaning here.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
    case ERROR_DEVICE_IN_USE:
      return OpenFailure::Busy;
    case ERROR_PRIVILEGE_NOT_HELD:
      return OpenFailure::PermissionDenied;
    default:
      return OpenFailure::Other;
  }
}

}  // namespace

std::unique_ptr<CommDevice> OpenPlatformDevice(const std::string& name) {
  // A zero byte would cut the name short there and open another device.
  if (name.find('\0') != std::string::npos) {
    NoteOpenFailure(OpenFailure::NoSuchDevice, ERROR_INVALID_NAME);
    return nullptr;
  }
  const std::string path = "\\\\.\\" + name;
  UniqueHandle handle(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED,
                                    nullptr));
  if (!handle) {
    const DWORD error = ::GetLastError();
    NoteOpenFailure(OpenFailureOf(error), static_cast<int>(error));
    return nullptr;
  }
  NoteOpenFailure(OpenFailure::None);
  return std::make_unique<Win32CommDevice>(std::move(handle));
}

std::uint16_t PlatformQueueSizeLimit() {
  // 4096 on the NT platform from version 4 on, 8192 on any other (or when the query fails).
  OSVERSIONINFOA info{};
  static_assert(sizeof info == 148, "GetVersionExA takes the 148-byte OSVERSIONINFOA");
  info.dwOSVersionInfoSize = sizeof info;
#ifdef _MSC_VER
#pragma warning(suppress : 4996)  // deprecated, but it is the query this rule is stated for
#endif
  const BOOL ok = ::GetVersionExA(&info);
  if (ok && info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 4) return 4096;
  return 8192;
}

}  // namespace xcom
