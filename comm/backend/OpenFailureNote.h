#pragma once
// For the device layers: each notes the outcome of the open under way on the calling thread,
// which LastOpenFailure and the port's OpenFailureReason then tell.

#include "OpenFailure.h"

namespace xcom {

void NoteOpenFailure(OpenFailure reason, int systemError = 0);
void NoteOpenFailure(OpenFailureInfo failure);

}  // namespace xcom
