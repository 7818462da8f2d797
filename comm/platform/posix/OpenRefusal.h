#pragma once
// How an open that failed is noted for the operator (OpenFailureNote.h), from the system error
// of the call that failed. Every POSIX backend refuses this way.

#include <sys/stat.h>

#include <memory>

#include "CommDevice.h"
#include "OpenFailureNote.h"

namespace xcom {

// What an errno of stat() or open() means to the person who typed the name.
OpenFailure OpenFailureOf(int error);

// Notes why the open failed and answers no device.
std::unique_ptr<CommDevice> Refused(OpenFailure reason, int error);

// Permission denied: notes who owns the device `info` describes, so the operator learns whether
// a group helps.
std::unique_ptr<CommDevice> RefusedPermission(const struct stat& info, int error);

}  // namespace xcom
