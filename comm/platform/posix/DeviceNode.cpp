// The node behind a port name on POSIX: what stat finds at the name's path, if it is a
// character device.

#include "DeviceNode.h"

#include <sys/stat.h>
#include <unistd.h>

#include "DeviceName.h"
#include "SerialLineCheck.h"

namespace xcom {

namespace {

DeviceNode NodeOf(const std::string& path, const struct stat& status) {
  DeviceNode found;
  found.device = static_cast<std::uint64_t>(status.st_rdev);
  found.node = static_cast<std::uint64_t>(status.st_ino);
  found.accessible = ::access(path.c_str(), R_OK | W_OK) == 0;
  found.pseudoTerminal = IsPseudoTerminalSlave(status.st_rdev);
  struct stat name {};
  found.throughLink = ::lstat(path.c_str(), &name) == 0 && S_ISLNK(name.st_mode);
  return found;
}

}  // namespace

std::optional<DeviceNode> FindDeviceNode(const std::string& name) {
  const std::string path = DevicePathForName(name);
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) return std::nullopt;
  return NodeOf(path, status);
}

SerialDeviceCheck CheckSerialDevice(const std::string& name) {
  const std::string path = DevicePathForName(name);
  const SerialLineVerdict verdict = CheckSerialLine(path);
  SerialDeviceCheck check{verdict.reason, verdict.systemError, std::nullopt};
  if (verdict.reason == OpenFailure::None) check.node = NodeOf(path, verdict.info);
  return check;
}

}  // namespace xcom
