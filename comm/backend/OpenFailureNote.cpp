#include "OpenFailureNote.h"

#include <utility>

namespace xcom {

namespace {
// Per thread: two windows (or a window and a test) opening ports on different threads never
// see each other's reasons.
thread_local OpenFailureInfo lastOpenFailure;
}  // namespace

OpenFailureInfo LastOpenFailure() {
  return lastOpenFailure;
}

void NoteOpenFailure(OpenFailure reason, int systemError) {
  NoteOpenFailure(OpenFailureInfo{reason, systemError, {}, {}});
}

void NoteOpenFailure(OpenFailureInfo failure) {
  lastOpenFailure = std::move(failure);
}

}  // namespace xcom
