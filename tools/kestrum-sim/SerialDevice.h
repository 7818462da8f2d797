#pragma once
// The simulated module on a serial device that exists already (a USB-RS485 adapter, one side of
// a socat pair).

#include <string>

#include "LineSettings.h"
#include "UniqueFd.h"

namespace kestrum_sim {

using xcom::UniqueFd;

// Opens an existing serial device for the module, after checking (before opening) that it is a
// serial line by the tool's rule, takes an exclusive flock on it (a second program that honours
// the lock cannot open it too) and configures it (LineSetup.h).
// Throws std::system_error with the device path in the message.
UniqueFd OpenSerialDevice(const std::string& path, const LineSettings& line);

}  // namespace kestrum_sim
