// The stop signal on Windows: an unnamed manual-reset event, created not signalled. The monitor
// thread waits on it together with its port wait (WaitForMultipleObjects), so setting it ends a
// pending wait at once.

// Lean, without the min and max macros: see CMakeLists.txt.
#include <windows.h>

#include "StopSignal.h"

namespace xcom {

namespace {

HANDLE AsHandle(std::intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

}  // namespace

StopSignal::StopSignal()
    : handle_(reinterpret_cast<std::intptr_t>(::CreateEventA(nullptr, TRUE, FALSE, nullptr))) {
  if (handle_ == 0) creationError_ = static_cast<int>(::GetLastError());
}

StopSignal::~StopSignal() {
  if (handle_ != 0) ::CloseHandle(AsHandle(handle_));
}

void StopSignal::Set() {
  ::SetEvent(AsHandle(handle_));
}

bool StopSignal::IsSet() const {
  return ::WaitForSingleObject(AsHandle(handle_), 0) == WAIT_OBJECT_0;
}

void StopSignal::WaitUntilSet() const {
  if (handle_ != 0) ::WaitForSingleObject(AsHandle(handle_), INFINITE);
}

}  // namespace xcom
