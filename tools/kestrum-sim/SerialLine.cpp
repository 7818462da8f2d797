#include "SerialLine.h"

#include "DeviceNode.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <system_error>

namespace kestrum_sim {

namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// termios constants for the rates it knows; 0 for the others.
speed_t SpeedConstant(unsigned baud) {
  struct Entry {
    unsigned baud;
    speed_t constant;
  };
  static constexpr std::array<Entry, 23> kSpeeds{{
      {50, B50},         {75, B75},         {110, B110},         {134, B134},
      {150, B150},       {200, B200},       {300, B300},         {600, B600},
      {1200, B1200},     {1800, B1800},     {2400, B2400},       {4800, B4800},
      {9600, B9600},     {19200, B19200},   {38400, B38400},     {57600, B57600},
      {115200, B115200}, {230400, B230400}, {460800, B460800},   {500000, B500000},
      {576000, B576000}, {921600, B921600}, {1000000, B1000000},
  }};
  for (const Entry& entry : kSpeeds)
    if (entry.baud == baud) return entry.constant;
  return 0;
}

// A running simulator claims its link's name with an abstract Unix socket named after the
// link's absolute path: the kernel frees the name when the process ends, however it ends, and
// leaves nothing in the file system. An invalid descriptor: another process holds the name.
UniqueFd ClaimLinkName(const std::string& link) {
  const std::string path = std::filesystem::absolute(link).lexically_normal().string();
  const std::string name = "kestrum-sim link " + std::to_string(std::hash<std::string>{}(path));
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) ThrowErrno("socket");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // sun_path[0] stays 0: the abstract namespace.
  name.copy(address.sun_path + 1, sizeof address.sun_path - 2);
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), size) != 0) {
    if (errno == EADDRINUSE) return UniqueFd();
    ThrowErrno("bind");
  }
  return socket;
}

}  // namespace

void ConfigureLine(int fd, const LineSettings& line) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) ThrowErrno("tcgetattr");
  ::cfmakeraw(&tio);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  tio.c_cflag |= line.dataBits == 7 ? CS7 : CS8;
  if (line.parity != Parity::None) tio.c_cflag |= PARENB;
  if (line.parity == Parity::Odd) tio.c_cflag |= PARODD;
  if (line.stopBits == 2) tio.c_cflag |= CSTOPB;
  // Reads never block (the descriptor is non-blocking): VMIN 1 makes an empty read answer
  // EAGAIN rather than 0, which would look like the end of the line.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  const speed_t speed = SpeedConstant(line.baud);
  if (speed != 0 && (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0))
    ThrowErrno("cfsetspeed");
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) ThrowErrno("tcsetattr");
  if (speed == 0 && !SetArbitraryBaud(fd, line.baud))
    ThrowErrno("baud rate " + std::to_string(line.baud));
}

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

PseudoTerminal::PseudoTerminal(const LineSettings& line, const std::string& link) {
  int master = -1;
  int slave = -1;
  std::array<char, 256> name{};
  if (::openpty(&master, &slave, name.data(), nullptr, nullptr) != 0) ThrowErrno("openpty");
  master_.Reset(master);
  slave_.Reset(slave);
  slavePath_ = name.data();
  for (const int fd : {master, slave}) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  // The slave's settings govern the line discipline of both directions: without raw mode the
  // pty would echo the module's own replies back to it and edit lines.
  ConfigureLine(slave, line);
  if (::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK) != 0) ThrowErrno("fcntl");

  if (!link.empty()) PlaceLink(link);
}

void PseudoTerminal::PlaceLink(const std::string& link) {
  linkClaim_ = ClaimLinkName(link);
  if (!linkClaim_)
    throw std::system_error(EADDRINUSE, std::generic_category(),
                            link +
                                " is the link of a kestrum-sim that is still running; stop "
                                "that one or choose another --link");
  struct stat info {};
  if (::lstat(link.c_str(), &info) == 0) {
    if (!S_ISLNK(info.st_mode))
      throw std::system_error(EEXIST, std::generic_category(), link + " exists and is no link");
    // Left by an earlier run: it points nowhere, or to a pseudo-terminal (no running simulator
    // claims the name). A link to anything else is somebody else's.
    struct stat target {};
    const bool dangling = ::stat(link.c_str(), &target) != 0 && errno == ENOENT;
    const std::optional<xcom::DeviceNode> node =
        xcom::FindDeviceNode(std::filesystem::absolute(link).string());
    if (!dangling && !(node && node->pseudoTerminal))
      throw std::system_error(EEXIST, std::generic_category(),
                              link + " is a link to something that is no pseudo-terminal");
  }
  // Replaced in one step.
  const std::string temporary = link + ".tmp" + std::to_string(::getpid());
  ::unlink(temporary.c_str());
  if (::symlink(slavePath_.c_str(), temporary.c_str()) != 0) ThrowErrno(link);
  if (::rename(temporary.c_str(), link.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw std::system_error(error, std::generic_category(), link);
  }
  link_ = link;
}

PseudoTerminal::~PseudoTerminal() {
  RemoveLink();
}

void PseudoTerminal::RemoveLink() {
  if (link_.empty()) return;
  std::array<char, 512> target{};
  const ssize_t size = ::readlink(link_.c_str(), target.data(), target.size() - 1);
  if (size > 0 && std::string(target.data(), static_cast<std::size_t>(size)) == slavePath_)
    ::unlink(link_.c_str());
  link_.clear();
}

}  // namespace kestrum_sim
