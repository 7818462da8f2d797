// Opening a serial line on Linux: the name is followed once, with O_PATH (which opens no
// device), and that node is checked (SerialLineCheck.h: a character device of the tty class, not
// the process's own terminal, not a pseudo-terminal master). Then the same node is opened through
// /proc/self/fd/N with O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, and the opened device must be
// the one checked and a terminal: a link switched meanwhile cannot get anything else opened. The
// terminal is then taken as on every POSIX system (TerminalOpen.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "DeviceName.h"
#include "OpenRefusal.h"
#include "PlatformDevice.h"
#include "SerialLineCheck.h"
#include "TerminalOpen.h"
#include "UniqueFd.h"

namespace xcom {

namespace {

// The verdict of the look before opening, as the reason noted for the operator.
std::unique_ptr<CommDevice> RefusedBeforeOpening(const SerialLineVerdict& verdict) {
  if (verdict.reason == OpenFailure::Other)
    return Refused(OpenFailureOf(verdict.systemError), verdict.systemError);
  return Refused(verdict.reason, verdict.systemError);
}

// Why the checked node did not open, errno as the open left it.
std::unique_ptr<CommDevice> RefusedOpening(const SerialLineVerdict& verdict) {
  const int error = errno;
  if (error == ENOTTY) return Refused(OpenFailure::NotSerialDevice, error);
  if (OpenFailureOf(error) == OpenFailure::PermissionDenied)
    return RefusedPermission(verdict.info, error);
  return Refused(OpenFailureOf(error), error);
}

// Opens the checked node through its O_PATH descriptor: /proc/self/fd/N leads to the inode the
// descriptor holds, not to whatever the name leads to by now. Then makes sure it is that device
// and a terminal.
UniqueFd OpenChecked(const UniqueFd& node, const struct stat& checked) {
  const std::string held = "/proc/self/fd/" + std::to_string(node.Get());
  UniqueFd fd(::open(held.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) return fd;
  struct stat info;
  if (::fstat(fd.Get(), &info) != 0 || !S_ISCHR(info.st_mode) || info.st_rdev != checked.st_rdev ||
      info.st_ino != checked.st_ino || info.st_dev != checked.st_dev || !::isatty(fd.Get())) {
    errno = ENOTTY;
    return UniqueFd();
  }
  return fd;
}

}  // namespace

std::unique_ptr<CommDevice> OpenPlatformDevice(const std::string& name) {
  // An empty name would resolve to the /dev directory itself: it names no device. Nor does a
  // name with a zero byte, which the system would cut short there and take for another name.
  if (name.empty()) return Refused(OpenFailure::NoSuchDevice, ENOENT);
  if (name.find('\0') != std::string::npos) return Refused(OpenFailure::NoSuchDevice, EINVAL);
  const std::string path = DevicePathForName(name);
  // The name is followed once, to a descriptor that opens no device (O_PATH); the checks and
  // the open both take that node, so a link switched between them changes nothing.
  const UniqueFd node(::open(path.c_str(), O_PATH | O_CLOEXEC));
  if (!node.Valid()) {
    const int error = errno;
    return Refused(OpenFailureOf(error), error);
  }
  const SerialLineVerdict verdict = CheckSerialLineAt(node.Get());
  if (verdict.reason != OpenFailure::None) return RefusedBeforeOpening(verdict);
  UniqueFd fd = OpenChecked(node, verdict.info);
  if (!fd.Valid()) return RefusedOpening(verdict);
  return TakeTerminal(std::move(fd), IsPseudoTerminalSlave(verdict.info.st_rdev));
}

}  // namespace xcom
