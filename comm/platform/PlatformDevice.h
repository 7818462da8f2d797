#pragma once
// What each OS's platform layer provides to the component besides the device itself.

#include <cstdint>
#include <memory>
#include <string>

#include "CommDevice.h"

namespace xcom {

// Opens a device by its bare name (exclusively); nullptr when it cannot be opened.
std::unique_ptr<CommDevice> OpenPlatformDevice(const std::string& name);

// Opens a device by the name a port holds: a serial device server for tcp:// and rfc2217://
// names (NetworkName.h), this OS's own device for any other; nullptr, with the reason noted,
// when it cannot be opened.
std::unique_ptr<CommDevice> OpenDeviceByName(const std::string& name);

// The queue-size limit of this host (see TCommBuffers).
std::uint16_t PlatformQueueSizeLimit();

}  // namespace xcom
