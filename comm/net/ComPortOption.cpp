#include "ComPortOption.h"

#include "TelnetCodec.h"
#include "XComTypes.h"

namespace xcom::rfc2217 {

namespace {

constexpr std::uint32_t EventBit(TDeviceEvent event) {
  return 1u << event;
}
// ClearCommError's error bits.
constexpr std::uint32_t kErrorOverrun = 0x0002, kErrorParity = 0x0004, kErrorFrame = 0x0008,
                        kErrorBreak = 0x0010;
// The control block's handshake fields.
constexpr unsigned kDtrControlEnable = 1, kDtrControlHandshake = 2;
constexpr unsigned kRtsControlEnable = 1, kRtsControlHandshake = 2;

ByteString BigEndian32(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
          static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

}  // namespace

ByteString CommandBytes(Command command, const ByteString& value) {
  ByteString body;
  body.reserve(value.size() + 1);
  body.push_back(command);
  for (const std::uint8_t byte : value) body.push_back(byte);
  return telnet::Subnegotiation(telnet::kOptionComPort, body);
}

std::vector<Setting> SettingsOf(const DCB& dcb) {
  // Parity: the control block counts from none = 0, the option from none = 1. Stop size: the
  // option's 1.5 is 3, after 2.
  const std::uint8_t parity = static_cast<std::uint8_t>(dcb.Parity + 1);
  const std::uint8_t stop = dcb.StopBits == ONE5STOPBITS ? 3 : dcb.StopBits == TWOSTOPBITS ? 2 : 1;
  const std::uint8_t outbound = dcb.fOutxCtsFlow ? kControlHardware
                                : dcb.fOutX      ? kControlXonXoff
                                                 : kControlNoFlow;
  const std::uint8_t inbound = dcb.fRtsControl == kRtsControlHandshake ? kControlInboundHardware
                               : dcb.fInX                              ? kControlInboundXonXoff
                                                                       : kControlInboundNoFlow;
  std::vector<Setting> settings{{kSetBaudRate, BigEndian32(dcb.BaudRate)},
                                {kSetDataSize, {dcb.ByteSize}},
                                {kSetParity, {parity}},
                                {kSetStopSize, {stop}},
                                {kSetControl, {outbound}},
                                {kSetControl, {inbound}}};
  if (dcb.fDtrControl != kDtrControlHandshake)
    settings.push_back(
        {kSetControl, {dcb.fDtrControl == kDtrControlEnable ? kControlDtrOn : kControlDtrOff}});
  if (dcb.fRtsControl != kRtsControlHandshake)
    settings.push_back(
        {kSetControl, {dcb.fRtsControl == kRtsControlEnable ? kControlRtsOn : kControlRtsOff}});
  return settings;
}

std::uint8_t PurgeValueOf(std::uint32_t purgeFlags) {
  const bool receive = (purgeFlags & (PURGE_RXCLEAR | PURGE_RXABORT)) != 0;
  const bool transmit = (purgeFlags & (PURGE_TXCLEAR | PURGE_TXABORT)) != 0;
  return receive && transmit ? kPurgeBoth : receive ? kPurgeReceive : transmit ? kPurgeTransmit : 0;
}

void ServerState::Take(const ByteString& body) {
  if (body.empty() || body[0] <= kServerOffset || body[0] > kServerOffset + kLastCommand) return;
  const auto command = static_cast<Command>(body[0] - kServerOffset);
  const ByteString value(body.begin() + 1, body.end());
  if (command == kNotifyModemState && !value.empty()) TakeModemState(value[0]);
  if (command == kNotifyLineState && !value.empty()) TakeLineState(value[0]);
  if (command == kSetControl && !value.empty()) controlAnswered_[value[0]] = true;
  answered_[command] = true;
  answers_[command] = value;
}

void ServerState::TakeModemState(std::uint8_t state) {
  const std::uint8_t changed = static_cast<std::uint8_t>(state ^ modemState_);
  // A line counts as changed when the server says so (its delta bit) or when it differs from
  // the last notification (a server that sends only states).
  if ((changed & kModemCts) || (state & kModemCtsDelta)) events_ |= EventBit(deCTS);
  if ((changed & kModemDsr) || (state & kModemDsrDelta)) events_ |= EventBit(deDSR);
  if ((changed & kModemCarrier) || (state & kModemCarrierDelta)) events_ |= EventBit(deRLSD);
  if ((changed & state & kModemRing) || (state & kModemRingTrailingEdge))
    events_ |= EventBit(deRing);
  modemState_ = static_cast<std::uint8_t>(state & 0xF0);
}

void ServerState::TakeLineState(std::uint8_t state) {
  if (state & kLineBreak) {
    events_ |= EventBit(deBreak);
    errors_ |= kErrorBreak;
  }
  const std::uint32_t errors = ((state & kLineFraming) ? kErrorFrame : 0) |
                               ((state & kLineParity) ? kErrorParity : 0) |
                               ((state & kLineOverrun) ? kErrorOverrun : 0);
  if (errors != 0) {
    events_ |= EventBit(deError);
    errors_ |= errors;
  }
}

std::uint32_t ServerState::TakeEvents() {
  const std::uint32_t events = events_;
  events_ = 0;
  return events;
}

std::uint32_t ServerState::TakeErrors() {
  const std::uint32_t errors = errors_;
  errors_ = 0;
  return errors;
}

}  // namespace xcom::rfc2217
