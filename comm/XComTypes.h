#pragma once
// Settings, sets and event types of the serial port component.

#include <cstdint>
#include <functional>

#include "TSet.h"

namespace xcom {

class TCustomComm;

enum TBaudRate : std::int32_t {
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000,
  brCustom
};
enum TFlowControl : std::int32_t { fcNone, fcRtsCts, fcDtrDsr, fcSoftware, fcCustom };
enum TDataBits : std::int32_t { db4, db5, db6, db7, db8 };
enum TStopBits : std::int32_t { sb1, sb1p5, sb2 };
enum TParity : std::int32_t { paNone, paOdd, paEven, paMark, paSpace };
enum TCommOption : std::int32_t {
  coAbortOnError,
  coDiscardNull,
  coDSRSensitivity,
  coErrorChar,
  coParityCheck,
  coTXContinueOnXOff,
  coLeaveDTROpen
};

// Laid out bit for bit like the Windows comm event mask (EV_RXCHAR = bit 0 ...).
enum TDeviceEvent : std::int32_t {
  deChar,
  deFlag,
  deOutEmpty,
  deCTS,
  deDSR,
  deRLSD,
  deBreak,
  deError,
  deRing,
  dePrintError,
  deIn80Full,
  deProv1,
  deProv2
};

enum TRTSSetting : std::int32_t { fsCTSOut, fsRTSEnabled, fsRTSHandshake };
enum TDTRSetting : std::int32_t { fsDSROut, fsDTREnabled, fsDTRHandshake };
enum TXOnXOffSetting : std::int32_t { fsInX, fsOutX };

enum TDeviceLock : std::int32_t { dlSend, dlRead };

using TRTSSettings = TSet<TRTSSetting, std::uint8_t>;
using TDTRSettings = TSet<TDTRSetting, std::uint8_t>;
using TXOnXOffSettings = TSet<TXOnXOffSetting, std::uint8_t>;
using TCommOptions = TSet<TCommOption, std::uint8_t>;
using TDeviceEvents = TSet<TDeviceEvent, std::uint16_t>;
using TDeviceLocks = TSet<TDeviceLock, std::uint8_t>;

// Bound callbacks; the sending port comes first. An unassigned (empty) one is skipped.
using TNotifyEvent = std::function<void(TCustomComm* Sender)>;
using TCommEvent = std::function<void(TCustomComm* Sender, TDeviceEvents Events)>;
using TDataEvent = std::function<void(TCustomComm* Sender, std::uint32_t Received)>;

// Rates of the TBaudRate members, indexed by member number (brCustom has none).
inline constexpr std::uint32_t kBaudRates[15] = {110,   300,   600,    1200,   2400,
                                                 4800,  9600,  14400,  19200,  38400,
                                                 56000, 57600, 115200, 128000, 256000};

// The member whose rate is `rate`; brCustom when no member has it.
constexpr TBaudRate BaudRateMemberOf(std::uint32_t rate) {
  for (std::int32_t member = br110; member < brCustom; ++member)
    if (kBaudRates[member] == rate) return static_cast<TBaudRate>(member);
  return brCustom;
}

// Display names for user interfaces.
inline constexpr const char* FlowControlNames[5] = {"None", "CTS/RTS", "DTR/DSR", "XOn/XOff",
                                                    "Custom"};
inline constexpr const char* ParityNames[5] = {"None", "Odd", "Even", "Mark", "Space"};
inline constexpr const char* StopBitsNames[3] = {"1", "1.5", "2"};
inline constexpr const char* ModemResultNames[8] = {"OK",    "CONNECT",     "RING", "NO CARRIER",
                                                    "ERROR", "NO DIALTONE", "BUSY", "NO ANSWER"};

}  // namespace xcom
