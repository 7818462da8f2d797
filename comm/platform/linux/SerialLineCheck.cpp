#include "SerialLineCheck.h"

#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace xcom {

namespace {

// Device majors of <linux/major.h>.
constexpr unsigned kTtyMajor = 4;        // minors 0-63 virtual consoles, 64+ ttyS
constexpr unsigned kTtyAuxMajor = 5;     // 0 /dev/tty, 1 /dev/console, 2 /dev/ptmx
constexpr unsigned kPtyMasterMajor = 2;  // legacy BSD masters /dev/pty??
constexpr unsigned kUnix98PtyMasterFirst = 128, kUnix98PtyMasterLast = 135;
constexpr unsigned kUnix98PtySlaveFirst = 136, kUnix98PtySlaveLast = 143;
constexpr unsigned kFirstSerialMinorOfTtyMajor = 64;

// The device's sysfs class, from /sys/dev/char/MAJOR:MINOR/subsystem ("tty", "mem", "misc"...);
// empty when sysfs has no entry for it.
std::string SysfsClassOf(dev_t device) {
  const std::string link = "/sys/dev/char/" + std::to_string(major(device)) + ":" +
                           std::to_string(minor(device)) + "/subsystem";
  char target[512];
  const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return {};
  const std::string path(target, std::size_t(n));
  return path.substr(path.rfind('/') + 1);
}

bool SysfsPresent() {
  struct stat info;
  return ::stat("/sys/dev/char", &info) == 0 && S_ISDIR(info.st_mode);
}

dev_t ControllingTerminal() {
  std::ifstream in("/proc/self/stat");
  std::string line;
  std::getline(in, line);
  return ControllingTerminalFromStat(line);
}

}  // namespace

bool IsPseudoTerminalSlave(dev_t device) {
  return major(device) >= kUnix98PtySlaveFirst && major(device) <= kUnix98PtySlaveLast;
}

bool IsTerminalStandIn(dev_t device) {
  const unsigned number = major(device);
  if (number == kTtyAuxMajor) return minor(device) <= 2;
  if (number == kTtyMajor) return minor(device) < kFirstSerialMinorOfTtyMajor;
  return number == kPtyMasterMajor ||
         (number >= kUnix98PtyMasterFirst && number <= kUnix98PtyMasterLast);
}

dev_t ControllingTerminalFromStat(const std::string& statLine) {
  // "pid (comm) state ppid pgrp session tty_nr ...": comm may hold blanks and parentheses,
  // so the fields are counted from the last ')'.
  const std::size_t end = statLine.rfind(')');
  if (end == std::string::npos) return 0;
  std::istringstream fields(statLine.substr(end + 1));
  std::string state;
  long long ppid = 0, pgrp = 0, session = 0, ttyNr = 0;
  if (!(fields >> state >> ppid >> pgrp >> session >> ttyNr) || ttyNr <= 0) return 0;
  // The kernel's encoding: major in bits 8-19, minor in bits 0-7 and 20-31.
  const auto n = static_cast<unsigned long long>(ttyNr);
  return makedev(static_cast<unsigned>((n >> 8) & 0xFFF),
                 static_cast<unsigned>((n & 0xFF) | ((n >> 12) & 0xFFF00)));
}

bool IsOwnTerminal(dev_t device) {
  if (device == ControllingTerminal()) return true;
  for (int fd = 0; fd <= 2; ++fd) {
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == device && ::isatty(fd))
      return true;
  }
  return false;
}

namespace {

// The verdict on what stat or fstat found, or on its error.
SerialLineVerdict VerdictOn(SerialLineVerdict verdict, int statError) {
  if (statError != 0) {
    verdict.systemError = statError;
    verdict.reason = OpenFailure::Other;  // the caller tells which from the errno
    return verdict;
  }
  const dev_t device = verdict.info.st_rdev;
  // Without sysfs the class cannot be asked; the terminal check after opening still holds.
  const bool serialClass =
      IsPseudoTerminalSlave(device) || !SysfsPresent() || SysfsClassOf(device) == "tty";
  if (!S_ISCHR(verdict.info.st_mode) || !serialClass || IsTerminalStandIn(device) ||
      IsOwnTerminal(device)) {
    verdict.reason = OpenFailure::NotSerialDevice;
    verdict.systemError = ENOTTY;
  }
  return verdict;
}

}  // namespace

SerialLineVerdict CheckSerialLine(const std::string& path) {
  SerialLineVerdict verdict;
  const int error = ::stat(path.c_str(), &verdict.info) != 0 ? errno : 0;
  return VerdictOn(verdict, error);
}

SerialLineVerdict CheckSerialLineAt(int node) {
  SerialLineVerdict verdict;
  const int error = ::fstat(node, &verdict.info) != 0 ? errno : 0;
  return VerdictOn(verdict, error);
}

}  // namespace xcom
