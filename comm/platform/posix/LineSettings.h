#pragma once
// The line settings of a terminal device in the kernel's own form (termios2: flag words, control
// characters and a plain number for the speed), and the mapping between them and the device
// control block. Kept free of system headers: <termios.h> (used by the mapping) and
// <asm/termbits.h> (used to reach any baud rate through BOTHER) cannot meet in one source file.

#include <array>
#include <cstdint>

#include "XComStructs.h"

namespace xcom {

// Control characters the kernel keeps (NCCS of termios2); indexes are those of <termios.h>.
inline constexpr std::size_t kLineControlChars = 19;

struct LineSettings {
  std::uint32_t iflag = 0;
  std::uint32_t oflag = 0;
  std::uint32_t cflag = 0;  // without the speed bits (CBAUD, CIBAUD)
  std::uint32_t lflag = 0;
  std::uint8_t discipline = 0;
  std::array<std::uint8_t, kLineControlChars> cc{};
  std::uint32_t baud = 0;  // bits per second, the same in both directions
};

// --- Termios2.cpp: the device ---------------------------------------------------------------

// TCGETS2: the device's settings; false when the device is not a terminal or has gone away.
bool ReadLineSettings(int fd, LineSettings& line);

// TCSETS2: a rate with a speed code of its own (9600, 921600...) by that code, any other rate
// the driver can produce (76800, 14400, 33600...) through BOTHER.
// The result is checked afterwards: a driver that cannot come within 3 % of the rate (a UART
// whose divisor gives no close rate) or that changed the character format or the hardware
// handshake (an adapter without 5-bit characters or mark parity) gets its previous settings
// back, and the call fails. With `checkFormat` false only the rate is checked: a pseudo-
// terminal always answers 8 data bits without parity, whatever it was given.
bool WriteLineSettings(int fd, const LineSettings& line, bool checkFormat = true);

// --- TermiosMapping.cpp: pure mapping -------------------------------------------------------

// Raw mode: no echo, no line editing or signals, no output processing, reads return as soon as
// one byte is there (VMIN 1, VTIME 0; the descriptor is non-blocking anyway), receiver on,
// modem status lines ignored for opening and reading (CLOCAL). Speed and character format stay.
void MakeRaw(LineSettings& line);

// Raw mode with the control block's speed, character format, flow control and XON/XOFF
// characters. False, leaving `line` unchanged, for what the device cannot take: a rate of 0,
// 4 or fewer data bits (and more than 8), 1.5 stop bits, 5 data bits with 2 stop bits (a UART
// sends 1.5 there), an unknown parity, or XON/XOFF flow control with XonChar equal to XoffChar.
//
// Flags termios has no place for (fDsrSensitivity, fTXContinueOnXoff, fErrorChar, fNull,
// fAbortOnError, DSR flow and DTR handshake) and the fields XonLim, XoffLim, ErrorChar, EofChar,
// EvtChar are kept by the device object, not by the driver. Linux has one switch, CRTSCTS, for
// both hardware handshakes: it is on when fOutxCtsFlow or RTS_CONTROL_HANDSHAKE is asked for.
// With fParity, INPCK is set: the driver checks parity and hands a byte with a parity error on
// as a zero byte.
bool ApplyDcbToLine(const DCB& dcb, LineSettings& line);

// Overlays what the driver holds onto `dcb`: BaudRate, ByteSize, Parity, StopBits, fParity,
// fOutX, fInX, XonChar, XoffChar, and the hardware handshake when CRTSCTS disagrees with it.
// With `formatFromDriver` false, ByteSize and Parity stay as in `dcb` (a pseudo-terminal does
// not hold them).
void OverlayLineOnDcb(const LineSettings& line, DCB& dcb, bool formatFromDriver = true);

// Overlays the DTR and RTS lines the driver reports onto a control block whose fDtrControl or
// fRtsControl says "enabled" or "disabled" (handshake and toggle modes are left as they are).
void OverlayModemLinesOnDcb(bool dtrOn, bool rtsOn, DCB& dcb);

}  // namespace xcom
