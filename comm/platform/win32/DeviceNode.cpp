// The node behind a port name on Windows: the system device that the name ("COM3") is linked
// to in the device namespace (QueryDosDeviceA), such as "\Device\Serial0".

#include "DeviceNode.h"

#include <functional>

#include "NetworkName.h"
#include "ServerProbe.h"
#include "WinTypes.h"

namespace xcom {

std::optional<DeviceNode> FindDeviceNode(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return std::nullopt;
  // The answer is a list of targets ending in two zero characters; the first is the one in use.
  char targets[1024] = {};
  if (::QueryDosDeviceA(name.c_str(), targets, sizeof targets) == 0) return std::nullopt;
  DeviceNode found;
  found.node = std::hash<std::string>{}(std::string(targets));
  found.accessible = true;  // access to a port is decided when it is opened
  return found;
}

SerialDeviceCheck CheckSerialDevice(const std::string& name) {
  if (IsNetworkName(name)) return CheckNetworkServer(name);
  SerialDeviceCheck check;
  check.node = FindDeviceNode(name);
  if (!check.node) check.reason = OpenFailure::NoSuchDevice;
  return check;
}

}  // namespace xcom
