#pragma once
// What a person refused access to a serial device can do about it, as far as the device's
// owner and group tell: the one rule behind the permission hints of the window and of kestrum,
// which word it each in their own language. Plain C++.
//
// Joining a group helps only where that group owns the device (a USB adapter's dialout);
// another user's terminal (/dev/pts/N of someone else) stays theirs. Where the system names no
// owner (Windows), the advice is to run as a user who may open it.

#include "OpenFailure.h"

namespace hints {

enum class PermissionRemedy {
  JoinDialoutGroup,    // the dialout group owns the device
  AskTheOwner,         // the device belongs to another user (OpenFailureInfo::deviceOwner)
  RunAsPermittedUser,  // nothing names an owner
};

inline PermissionRemedy PermissionRemedyFor(const xcom::OpenFailureInfo& failure) {
  if (failure.deviceGroup == "dialout") return PermissionRemedy::JoinDialoutGroup;
  if (failure.deviceOwner.empty()) return PermissionRemedy::RunAsPermittedUser;
  return PermissionRemedy::AskTheOwner;
}

}  // namespace hints
