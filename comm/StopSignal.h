#pragma once
// A manual-reset signal, created not set, that ends a pending WaitCommEvent at once.
// posix: an eventfd; win32: an unnamed manual-reset event.

#include <cstdint>

namespace xcom {

class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  void Set();
  bool IsSet() const;
  // The platform object to wait on (a file descriptor or a HANDLE).
  std::intptr_t NativeHandle() const { return handle_; }

 private:
  std::intptr_t handle_;
};

}  // namespace xcom
