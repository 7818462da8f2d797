#include <termios.h>

#include "LineSettings.h"

namespace xcom {

static_assert(VMIN < kLineControlChars && VTIME < kLineControlChars && VSTART < kLineControlChars &&
                  VSTOP < kLineControlChars,
              "the control characters used here are among those termios2 keeps");

namespace {

constexpr std::uint32_t kParityBits = PARENB | PARODD | CMSPAR;
// The cflag bits the control block decides; every other one (HUPCL...) stays as the device has it.
constexpr std::uint32_t kBlockBits = CSIZE | CSTOPB | kParityBits | CRTSCTS | CREAD | CLOCAL;

constexpr DWORD kDtrControlEnable = 1;
constexpr DWORD kRtsControlEnable = 1;
constexpr DWORD kRtsControlHandshake = 2;

bool WantsHardwareHandshake(const DCB& dcb) {
  return dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == kRtsControlHandshake;
}

}  // namespace

void MakeRaw(LineSettings& line) {
  line.iflag &= ~std::uint32_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC |
                               IXANY | IMAXBEL | IUTF8);
  line.oflag &= ~std::uint32_t(OPOST);
  line.lflag &= ~std::uint32_t(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT | ECHOKE | ICANON |
                               ISIG | IEXTEN | XCASE | TOSTOP | FLUSHO | PENDIN);
  line.cflag |= CREAD | CLOCAL;
  line.cc[VMIN] = 1;
  line.cc[VTIME] = 0;
}

bool ApplyDcbToLine(const DCB& dcb, LineSettings& line) {
  std::uint32_t size;
  switch (dcb.ByteSize) {
    case 5:
      size = CS5;
      break;
    case 6:
      size = CS6;
      break;
    case 7:
      size = CS7;
      break;
    case 8:
      size = CS8;
      break;
    default:
      return false;
  }
  std::uint32_t parity;
  switch (dcb.Parity) {
    case NOPARITY:
      parity = 0;
      break;
    case ODDPARITY:
      parity = PARENB | PARODD;
      break;
    case EVENPARITY:
      parity = PARENB;
      break;
    case MARKPARITY:
      parity = PARENB | CMSPAR | PARODD;
      break;
    case SPACEPARITY:
      parity = PARENB | CMSPAR;
      break;
    default:
      return false;
  }
  std::uint32_t stop;
  switch (dcb.StopBits) {
    case ONESTOPBIT:
      stop = 0;
      break;
    case TWOSTOPBITS:
      if (dcb.ByteSize == 5) return false;
      stop = CSTOPB;
      break;
    default:
      return false;
  }
  if (dcb.BaudRate == 0) return false;
  const bool softwareFlow = dcb.fOutX != 0 || dcb.fInX != 0;
  if (softwareFlow && dcb.XonChar == dcb.XoffChar) return false;

  LineSettings out = line;
  MakeRaw(out);
  out.iflag &= ~std::uint32_t(IXON | IXOFF | INPCK | IGNPAR);
  if (dcb.fOutX) out.iflag |= IXON;
  if (dcb.fInX) out.iflag |= IXOFF;
  if (dcb.fParity) out.iflag |= INPCK;
  out.cflag = (out.cflag & ~kBlockBits) | CREAD | CLOCAL | size | parity | stop;
  if (WantsHardwareHandshake(dcb)) out.cflag |= CRTSCTS;
  out.cc[VSTART] = static_cast<std::uint8_t>(dcb.XonChar);
  out.cc[VSTOP] = static_cast<std::uint8_t>(dcb.XoffChar);
  out.baud = dcb.BaudRate;
  line = out;
  return true;
}

void OverlayLineOnDcb(const LineSettings& line, DCB& dcb, bool formatFromDriver) {
  if (line.baud != 0) dcb.BaudRate = line.baud;
  if (formatFromDriver) {
    switch (line.cflag & CSIZE) {
      case CS5:
        dcb.ByteSize = 5;
        break;
      case CS6:
        dcb.ByteSize = 6;
        break;
      case CS7:
        dcb.ByteSize = 7;
        break;
      default:
        dcb.ByteSize = 8;
        break;
    }
    if ((line.cflag & PARENB) == 0)
      dcb.Parity = NOPARITY;
    else if (line.cflag & CMSPAR)
      dcb.Parity = (line.cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
      dcb.Parity = (line.cflag & PARODD) ? ODDPARITY : EVENPARITY;
  }
  dcb.StopBits = (line.cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
  dcb.fParity = (line.iflag & INPCK) ? 1 : 0;
  dcb.fOutX = (line.iflag & IXON) ? 1 : 0;
  dcb.fInX = (line.iflag & IXOFF) ? 1 : 0;
  dcb.XonChar = static_cast<char>(line.cc[VSTART]);
  dcb.XoffChar = static_cast<char>(line.cc[VSTOP]);
  const bool handshake = (line.cflag & CRTSCTS) != 0;
  if (handshake != WantsHardwareHandshake(dcb)) {
    // Someone else changed the handshake behind the block's back: show both halves as the
    // driver runs them.
    dcb.fOutxCtsFlow = handshake ? 1 : 0;
    if (handshake)
      dcb.fRtsControl = kRtsControlHandshake;
    else if (dcb.fRtsControl == kRtsControlHandshake)
      dcb.fRtsControl = kRtsControlEnable;
  }
}

void OverlayModemLinesOnDcb(bool dtrOn, bool rtsOn, DCB& dcb) {
  if (dcb.fDtrControl <= kDtrControlEnable) dcb.fDtrControl = dtrOn ? 1 : 0;
  if (dcb.fRtsControl <= kRtsControlEnable) dcb.fRtsControl = rtsOn ? 1 : 0;
}

}  // namespace xcom
