#include <termios.h>

#include <optional>

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

namespace {

// The cflag bits of the control block's character format; nothing for what termios cannot take.
std::optional<std::uint32_t> SizeBitsOf(const DCB& dcb) {
  switch (dcb.ByteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    case 8:
      return CS8;
    default:
      return std::nullopt;
  }
}

std::optional<std::uint32_t> ParityBitsOf(const DCB& dcb) {
  switch (dcb.Parity) {
    case NOPARITY:
      return 0;
    case ODDPARITY:
      return PARENB | PARODD;
    case EVENPARITY:
      return PARENB;
    case MARKPARITY:
      return PARENB | CMSPAR | PARODD;
    case SPACEPARITY:
      return PARENB | CMSPAR;
    default:
      return std::nullopt;
  }
}

std::optional<std::uint32_t> StopBitsOf(const DCB& dcb) {
  if (dcb.StopBits == ONESTOPBIT) return 0;
  // With 5 data bits a UART sends 1.5 stop bits for "2".
  if (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize != 5) return CSTOPB;
  return std::nullopt;
}

// Software flow control needs two different characters.
bool FlowCharactersUsable(const DCB& dcb) {
  const bool softwareFlow = dcb.fOutX != 0 || dcb.fInX != 0;
  return !softwareFlow || dcb.XonChar != dcb.XoffChar;
}

void ApplyFlowControl(const DCB& dcb, LineSettings& line) {
  line.iflag &= ~std::uint32_t(IXON | IXOFF | INPCK | IGNPAR);
  if (dcb.fOutX) line.iflag |= IXON;
  if (dcb.fInX) line.iflag |= IXOFF;
  if (dcb.fParity) line.iflag |= INPCK;
  if (WantsHardwareHandshake(dcb)) line.cflag |= CRTSCTS;
  line.cc[VSTART] = static_cast<std::uint8_t>(dcb.XonChar);
  line.cc[VSTOP] = static_cast<std::uint8_t>(dcb.XoffChar);
}

}  // namespace

bool ApplyDcbToLine(const DCB& dcb, LineSettings& line) {
  const auto size = SizeBitsOf(dcb);
  const auto parity = ParityBitsOf(dcb);
  const auto stop = StopBitsOf(dcb);
  if (!size || !parity || !stop || dcb.BaudRate == 0 || !FlowCharactersUsable(dcb)) return false;
  LineSettings out = line;
  MakeRaw(out);
  out.cflag = (out.cflag & ~kBlockBits) | CREAD | CLOCAL | *size | *parity | *stop;
  ApplyFlowControl(dcb, out);
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
