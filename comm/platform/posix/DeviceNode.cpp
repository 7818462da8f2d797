// The node behind a port name on POSIX: what stat finds at the name's path, if it is a
// character device.

#include "DeviceNode.h"

#include <sys/stat.h>
#include <unistd.h>

#include "DeviceName.h"

namespace xcom {

std::optional<DeviceNode> FindDeviceNode(const std::string& name) {
  const std::string path = DevicePathForName(name);
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) return std::nullopt;
  DeviceNode found;
  found.device = static_cast<std::uint64_t>(status.st_rdev);
  found.node = static_cast<std::uint64_t>(status.st_ino);
  found.accessible = ::access(path.c_str(), R_OK) == 0 && ::access(path.c_str(), W_OK) == 0;
  return found;
}

}  // namespace xcom
