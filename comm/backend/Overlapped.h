#pragma once
// One overlapped write / read on the open device (see CommDevice), as the port's transfers make
// them. ReadOverlapped raises what the device reports: EDeviceError 10, with the system error.

#include <cstdint>

#include "CommDevice.h"

namespace xcom {

std::uint32_t WriteOverlapped(CommDevice& device, const std::uint8_t* buffer, std::uint32_t count);
std::uint32_t ReadOverlapped(CommDevice& device, std::uint8_t* buffer, std::uint32_t count);

}  // namespace xcom
