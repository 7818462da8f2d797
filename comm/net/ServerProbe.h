#pragma once
// Whether a serial device server answers under a network name, for a watcher waiting for a lost
// server to come back (CheckSerialDevice). A look never blocks: it starts a connect in the
// background, at most one per name at a time and one a second, and answers what the last one
// found.

#include <string>

#include "DeviceNode.h"

namespace xcom {

SerialDeviceCheck CheckNetworkServer(const std::string& name);

}  // namespace xcom
