#include "OpenFailureNote.h"

#include <utility>

#include "SystemError.h"

namespace xcom {

namespace {
// Per thread: two windows (or a window and a test) opening ports on different threads never
// see each other's reasons.
thread_local OpenFailureInfo lastOpenFailure;
}  // namespace

OpenFailureInfo LastOpenFailure() {
  return lastOpenFailure;
}

std::string OpenFailureSystemText(const OpenFailureInfo& failure) {
  return failure.systemError != 0 ? SystemErrorText(failure.systemError) : std::string();
}

void NoteOpenFailure(OpenFailure reason, int systemError) {
  NoteOpenFailure(OpenFailureInfo{reason, systemError, {}, {}});
}

void NoteOpenFailure(OpenFailureInfo failure) {
  lastOpenFailure = std::move(failure);
}

}  // namespace xcom
