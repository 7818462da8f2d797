// The only source file that includes <asm/termbits.h>: its struct termios clashes with the one
// of <termios.h>, which every other file of this layer uses.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "LineSettings.h"
#include "LineSpeed.h"

namespace xcom {

static_assert(NCCS == kLineControlChars, "termios2 keeps NCCS control characters");

namespace {

constexpr std::uint32_t kSpeedBits = CBAUD | CIBAUD;
// The character format and the hardware handshake: what the device must take as asked.
constexpr std::uint32_t kFormatBits = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS;

bool GetTermios2(int fd, termios2& t) {
  std::memset(&t, 0, sizeof t);
  return ::ioctl(fd, TCGETS2, &t) == 0;
}

bool SetTermios2(int fd, const termios2& t) {
  int result;
  do {
    result = ::ioctl(fd, TCSETS2, &t);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// The rates with a speed code of their own. Those are set by their code, so that programs
// using plain termios see them; every other rate goes through BOTHER.
struct SpeedCode {
  std::uint32_t baud;
  std::uint32_t code;
};
constexpr SpeedCode kSpeedCodes[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000}};

std::uint32_t SpeedCodeFor(std::uint32_t baud) {
  for (const SpeedCode& s : kSpeedCodes)
    if (s.baud == baud) return s.code;
  return BOTHER;
}

// The speed code (or BOTHER) in the output speed field, nothing in the input field: input runs
// at the output rate.
void PutSpeed(termios2& t, std::uint32_t baud) {
  t.c_cflag = (t.c_cflag & ~kSpeedBits) | SpeedCodeFor(baud);
  t.c_ispeed = baud;
  t.c_ospeed = baud;
}

// Within 3 %: what two UARTs still understand each other at.
bool CloseEnough(std::uint32_t asked, std::uint32_t got) {
  const std::uint64_t difference = asked > got ? asked - got : got - asked;
  return difference * 100 <= std::uint64_t(asked) * 3;
}

}  // namespace

bool ReadLineSettings(int fd, LineSettings& line) {
  termios2 t;
  if (!GetTermios2(fd, t)) return false;
  line.iflag = t.c_iflag;
  line.oflag = t.c_oflag;
  line.cflag = t.c_cflag & ~kSpeedBits;
  line.lflag = t.c_lflag;
  line.discipline = t.c_line;
  std::memcpy(line.cc.data(), t.c_cc, kLineControlChars);
  line.baud = t.c_ospeed;
  return true;
}

bool WriteLineSettings(int fd, const LineSettings& line, bool checkFormat) {
  termios2 previous;
  if (!GetTermios2(fd, previous)) return false;
  termios2 t = previous;
  t.c_iflag = line.iflag;
  t.c_oflag = line.oflag;
  t.c_cflag = line.cflag;
  t.c_lflag = line.lflag;
  t.c_line = line.discipline;
  std::memcpy(t.c_cc, line.cc.data(), kLineControlChars);
  PutSpeed(t, line.baud);
  if (!SetTermios2(fd, t)) return false;
  // A driver adjusts what its hardware cannot do (a UART without 5-bit characters or mark and
  // space parity, a rate its divisor cannot reach) and reports what it really set.
  termios2 now;
  if (!GetTermios2(fd, now)) return false;
  const bool formatTaken = !checkFormat || (now.c_cflag & kFormatBits) == (t.c_cflag & kFormatBits);
  if (formatTaken && CloseEnough(line.baud, now.c_ospeed)) return true;
  SetTermios2(fd, previous);
  errno = EINVAL;
  return false;
}

bool SetLineSpeed(int fd, std::uint32_t baud) {
  termios2 t;
  if (!GetTermios2(fd, t)) return false;
  PutSpeed(t, baud);
  return SetTermios2(fd, t);
}

bool GetLineSpeed(int fd, std::uint32_t& baud) {
  termios2 t;
  if (!GetTermios2(fd, t)) return false;
  baud = t.c_ospeed;
  return true;
}

}  // namespace xcom
