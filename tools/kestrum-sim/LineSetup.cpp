#include "LineSetup.h"

#include <termios.h>

#include <array>
#include <cstdint>
#include <cerrno>
#include <string>
#include <system_error>

#include "LineSpeed.h"
#include "ThrowErrno.h"

namespace kestrum_sim {

namespace {

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
  // Rates without a constant go through the serial component's one termios2 routine.
  if (speed == 0 && !xcom::SetLineSpeed(fd, line.baud))
    ThrowErrno("baud rate " + std::to_string(line.baud));
}

std::optional<LineSettings> ReadLineSetup(int fd) {
  termios tio{};
  std::uint32_t baud = 0;
  if (::tcgetattr(fd, &tio) != 0 || !xcom::GetLineSpeed(fd, baud)) return std::nullopt;
  const tcflag_t size = tio.c_cflag & CSIZE;
  if (size != CS7 && size != CS8) return std::nullopt;
  LineSettings line;
  line.baud = baud;
  line.dataBits = size == CS7 ? 7 : 8;
  line.parity = (tio.c_cflag & PARENB) == 0   ? Parity::None
                : (tio.c_cflag & PARODD) != 0 ? Parity::Odd
                                              : Parity::Even;
  line.stopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
  return line;
}

}  // namespace kestrum_sim
