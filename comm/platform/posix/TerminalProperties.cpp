#include "TerminalProperties.h"

#include <cstring>

namespace xcom {

namespace {

constexpr DWORD SP_SERIALCOMM = 0x0001, PST_RS232 = 0x0001, BAUD_USER = 0x10000000;
constexpr DWORD kAllStandardBauds = 0x0007FFFF;  // BAUD_075 .. BAUD_57600 and BAUD_128K
constexpr DWORD PCF_RTSCTS = 0x0002, PCF_RLSD = 0x0004, PCF_PARITY_CHECK = 0x0008,
                PCF_XONXOFF = 0x0010, PCF_SETXCHAR = 0x0020, PCF_TOTALTIMEOUTS = 0x0040,
                PCF_INTTIMEOUTS = 0x0080;
constexpr DWORD SP_PARITY = 0x0001, SP_BAUD = 0x0002, SP_DATABITS = 0x0004, SP_STOPBITS = 0x0008,
                SP_HANDSHAKING = 0x0010, SP_PARITY_CHECK = 0x0020, SP_RLSD = 0x0040;
constexpr WORD DATABITS_5_TO_8 = 0x000F;
constexpr WORD STOPBITS_10 = 0x0001, STOPBITS_20 = 0x0004, PARITY_ALL = 0x1F00;

}  // namespace

void DescribeTerminal(COMMPROP& p, std::uint32_t inQueue, std::uint32_t outQueue) {
  static_assert(sizeof(COMMPROP) == 64, "COMMPROP keeps the Windows layout");
  std::memset(&p, 0, sizeof p);
  p.wPacketLength = sizeof(COMMPROP);
  p.wPacketVersion = 2;
  p.dwServiceMask = SP_SERIALCOMM;
  p.dwMaxBaud = BAUD_USER;
  p.dwProvSubType = PST_RS232;
  p.dwProvCapabilities = PCF_RTSCTS | PCF_RLSD | PCF_PARITY_CHECK | PCF_XONXOFF | PCF_SETXCHAR |
                         PCF_TOTALTIMEOUTS | PCF_INTTIMEOUTS;
  p.dwSettableParams =
      SP_PARITY | SP_BAUD | SP_DATABITS | SP_STOPBITS | SP_HANDSHAKING | SP_PARITY_CHECK | SP_RLSD;
  p.dwSettableBaud = kAllStandardBauds | BAUD_USER;
  p.wSettableData = DATABITS_5_TO_8;
  p.wSettableStopParity = STOPBITS_10 | STOPBITS_20 | PARITY_ALL;
  p.dwCurrentTxQueue = outQueue;
  p.dwCurrentRxQueue = inQueue;
}

}  // namespace xcom
