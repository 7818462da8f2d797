// The node behind a port name on POSIX: what stat finds at the name's path, if it is a
// character device.

#include "DeviceNode.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "DeviceName.h"
#include "NetworkName.h"
#include "SerialLineCheck.h"
#include "ServerProbe.h"

namespace xcom {

namespace {

namespace fs = std::filesystem;

std::string FirstLineOf(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// The USB device above a tty in sysfs: the first folder up the device's path that has a
// vendor number. Empty when there is none (a UART, a pseudo-terminal, no sysfs).
std::string UsbAdapterOf(dev_t device) {
  std::error_code error;
  const fs::path link =
      "/sys/dev/char/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  for (fs::path at = fs::canonical(link, error); !error && at.has_relative_path();
       at = at.parent_path()) {
    if (!fs::exists(at / "idVendor", error)) continue;
    // Built by appends: GCC 12 at -O3 misreads a chain of `+` on temporaries (-Wrestrict).
    const std::string serial = FirstLineOf(at / "serial");
    std::string adapter = FirstLineOf(at / "idVendor");
    adapter.append(":").append(FirstLineOf(at / "idProduct"));
    adapter.append(serial.empty() ? "@" : ":")
        .append(serial.empty() ? at.filename().string() : serial);
    return adapter;
  }
  return std::string();
}

// Whether a running program holds the claim on the link (the system's list of bound Unix
// sockets shows an abstract name with a leading '@').
bool LinkIsClaimed(const std::string& path) {
  const std::string wanted = " @" + LinkClaimName(path);
  std::ifstream sockets("/proc/net/unix");
  for (std::string line; std::getline(sockets, line);)
    if (line.size() >= wanted.size() && line.ends_with(wanted)) return true;
  return false;
}

DeviceNode NodeOf(const std::string& path, const struct stat& status) {
  DeviceNode found;
  found.device = static_cast<std::uint64_t>(status.st_rdev);
  found.node = static_cast<std::uint64_t>(status.st_ino);
  found.accessible = ::access(path.c_str(), R_OK | W_OK) == 0;
  found.pseudoTerminal = IsPseudoTerminalSlave(status.st_rdev);
  found.nodeOwner = status.st_uid;
  struct stat name {};
  found.throughLink = ::lstat(path.c_str(), &name) == 0 && S_ISLNK(name.st_mode);
  if (found.throughLink) found.linkOwner = name.st_uid;
  found.linkClaimed = found.throughLink && found.pseudoTerminal && LinkIsClaimed(path);
  if (!found.pseudoTerminal) found.adapter = UsbAdapterOf(status.st_rdev);
  return found;
}

}  // namespace

std::string LinkClaimName(const std::string& linkPath) {
  std::error_code error;
  const std::string path = fs::absolute(linkPath, error).lexically_normal().string();
  return "kestrum-sim link " + std::to_string(std::hash<std::string>{}(path));
}

std::optional<DeviceNode> FindDeviceNode(const std::string& name) {
  const std::string path = DevicePathForName(name);
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) return std::nullopt;
  return NodeOf(path, status);
}

SerialDeviceCheck CheckSerialDevice(const std::string& name) {
  if (IsNetworkName(name)) return CheckNetworkServer(name);
  const std::string path = DevicePathForName(name);
  const SerialLineVerdict verdict = CheckSerialLine(path);
  SerialDeviceCheck check{verdict.reason, verdict.systemError, std::nullopt};
  if (verdict.reason == OpenFailure::None) check.node = NodeOf(path, verdict.info);
  return check;
}

}  // namespace xcom
