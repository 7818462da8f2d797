#pragma once
// The COM-PORT-OPTION of Telnet (RFC 2217), without any I/O: the commands that set a remote
// serial line (rate, data size, parity, stop size, flow control, purge) built from the device
// control block, and what the server's answers and notifications (modem lines, line state)
// mean to the component: which settings it acknowledged, which events and line errors arrived.

#include <array>
#include <cstdint>
#include <vector>

#include "ByteString.h"
#include "XComStructs.h"

namespace xcom::rfc2217 {

// Client commands; the server answers each with the same number plus kServerOffset.
enum Command : std::uint8_t {
  kSetBaudRate = 1,
  kSetDataSize = 2,
  kSetParity = 3,
  kSetStopSize = 4,
  kSetControl = 5,
  kNotifyLineState = 6,
  kNotifyModemState = 7,
  kSetLineStateMask = 10,
  kSetModemStateMask = 11,
  kPurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;
inline constexpr std::uint8_t kLastCommand = kPurgeData;

// SET-CONTROL values this tool sends.
inline constexpr std::uint8_t kControlNoFlow = 1, kControlXonXoff = 2, kControlHardware = 3,
                              kControlDtrOn = 8, kControlDtrOff = 9, kControlRtsOn = 11,
                              kControlRtsOff = 12, kControlInboundNoFlow = 14,
                              kControlInboundXonXoff = 15, kControlInboundHardware = 16;
// PURGE-DATA values.
inline constexpr std::uint8_t kPurgeReceive = 1, kPurgeTransmit = 2, kPurgeBoth = 3;
// NOTIFY-MODEMSTATE bits.
inline constexpr std::uint8_t kModemCarrier = 0x80, kModemRing = 0x40, kModemDsr = 0x20,
                              kModemCts = 0x10, kModemCarrierDelta = 0x08,
                              kModemRingTrailingEdge = 0x04, kModemDsrDelta = 0x02,
                              kModemCtsDelta = 0x01;
// NOTIFY-LINESTATE bits.
inline constexpr std::uint8_t kLineBreak = 0x10, kLineFraming = 0x08, kLineParity = 0x04,
                              kLineOverrun = 0x02;

// One command as sent: IAC SB COM-PORT-OPTION command value IAC SE, 0xFF doubled.
ByteString CommandBytes(Command command, const ByteString& value);

// One setting the tool sends: the command and its value.
struct Setting {
  Command command;
  ByteString value;
};

// What a control block asks of the remote line, in the order sent: rate, data size, parity,
// stop size, outbound and inbound flow control, then DTR and RTS where no handshake drives them.
std::vector<Setting> SettingsOf(const DCB& dcb);

// The PURGE-DATA value for PurgeComm's flags; 0 when the flags clear no queue.
std::uint8_t PurgeValueOf(std::uint32_t purgeFlags);

// What the server has said on the option, fed with each of its sub-negotiations.
class ServerState {
 public:
  void Take(const ByteString& body);

  // Whether the server answered `command` since Forget(command), and with which value.
  bool Answered(Command command) const { return answered_[command]; }
  const ByteString& Answer(Command command) const { return answers_[command]; }
  // SET-CONTROL is answered per value: whether the server answered with `value`, which it
  // does when it took that value.
  bool ControlAnswered(std::uint8_t value) const { return controlAnswered_[value]; }
  void Forget(Command command) {
    answered_[command] = false;
    if (command == kSetControl) controlAnswered_.fill(false);
  }

  // Comm events (the TDeviceEvents bits) and ClearCommError bits noted since the last take.
  std::uint32_t TakeEvents();
  std::uint32_t TakeErrors();
  std::uint8_t ModemState() const { return modemState_; }

 private:
  void TakeModemState(std::uint8_t state);
  void TakeLineState(std::uint8_t state);

  std::array<bool, kLastCommand + 1> answered_{};
  std::array<ByteString, kLastCommand + 1> answers_{};
  std::array<bool, 256> controlAnswered_{};
  std::uint8_t modemState_ = 0;
  std::uint32_t events_ = 0;
  std::uint32_t errors_ = 0;
};

}  // namespace xcom::rfc2217
