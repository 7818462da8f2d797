#pragma once
// A manual-reset signal, created not set, that ends a pending WaitCommEvent at once.
// posix: an eventfd; win32: an unnamed manual-reset event. Creating it may fail (no descriptor
// or handle left): the signal then reports the system error and is never set.
// Set() is one system call and safe inside a signal handler.

#include <atomic>
#include <cstdint>

namespace xcom {

class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // The system error that kept the signal from being created; 0 when it was.
  int CreationError() const { return creationError_; }
  void Set();
  bool IsSet() const;
  // Blocks the calling thread until the signal is set (at once when it could not be created).
  void WaitUntilSet() const;
  // The platform object to wait on (a file descriptor or a HANDLE).
  std::intptr_t NativeHandle() const { return handle_; }
  // Tells this signal from an earlier one that had the same handle value and was destroyed:
  // a waiter may then set up its wait once per signal instead of before every wait.
  std::uint64_t Serial() const { return serial_; }

 private:
  static std::uint64_t NextSerial() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
  }

  std::intptr_t handle_;
  int creationError_ = 0;
  const std::uint64_t serial_ = NextSerial();
};

}  // namespace xcom
