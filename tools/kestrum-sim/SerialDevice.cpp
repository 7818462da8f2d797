#include "SerialDevice.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "DeviceNode.h"
#include "LineSetup.h"

#include "ThrowErrno.h"

namespace kestrum_sim {

UniqueFd OpenSerialDevice(const std::string& path, const LineSettings& line) {
  // Checked before anything opens or locks it, by the tool's own rule: only a serial line
  // (a pseudo-terminal's slave side included), never a pty master, /dev/tty or other devices.
  // The component takes a name without a leading '/' as one under /dev: give it the path.
  const xcom::SerialDeviceCheck verdict =
      xcom::CheckSerialDevice(std::filesystem::absolute(path).string());
  if (verdict.reason == xcom::OpenFailure::NotSerialDevice)
    throw std::system_error(ENOTTY, std::generic_category(), path + ": not a serial line");
  if (verdict.reason != xcom::OpenFailure::None)
    throw std::system_error(verdict.systemError, std::generic_category(), path);
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) ThrowErrno(path);
  struct stat opened {};
  if (::fstat(fd.Get(), &opened) != 0 ||
      static_cast<std::uint64_t>(opened.st_rdev) != verdict.node->device || !::isatty(fd.Get()))
    throw std::system_error(ENOTTY, std::generic_category(), path + ": not a serial line");
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) throw std::system_error(EBUSY, std::generic_category(), path);
    ThrowErrno(path);
  }
  try {
    ConfigureLine(fd.Get(), line);
  } catch (const std::system_error& error) {
    throw std::system_error(error.code(), path + ": " + error.what());
  }
  ::tcflush(fd.Get(), TCIOFLUSH);
  return fd;
}

}  // namespace kestrum_sim
