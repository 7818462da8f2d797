#include "OpenFailure.h"

#include "SystemError.h"

namespace xcom {

// LastOpenFailure is kept with the notes the device layers write (backend/OpenFailureNote.cpp).

std::string OpenFailureSystemText(const OpenFailureInfo& failure) {
  return failure.systemError != 0 ? SystemErrorText(failure.systemError) : std::string();
}

}  // namespace xcom
