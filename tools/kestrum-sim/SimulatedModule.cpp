#include "SimulatedModule.h"

#include "HexText.h"
#include "ModbusCrc.h"

using namespace modbus;  // the protocol layer

namespace kestrum_sim {

namespace {

constexpr std::uint8_t kReadHolding = 0x03;
constexpr std::uint8_t kWriteSingle = 0x06;
constexpr std::uint8_t kWriteMultiple = 0x10;
constexpr std::uint16_t kMaxReadCount = 125;   // Modbus limit for function 03
constexpr std::uint16_t kMaxWriteCount = 123;  // Modbus limit for function 16

std::uint16_t Word(const xcom::ByteString& frame, std::size_t at) {
  return static_cast<std::uint16_t>(frame[at] << 8 | frame[at + 1]);
}

void PutWord(xcom::ByteString& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

std::string Hex16(std::uint16_t value) {
  return "0x" + ByteToHex(value >> 8) + ByteToHex(value & 0xFF);
}

std::string RangeText(std::uint16_t start, unsigned count) {
  if (count == 1) return "register " + Hex16(start);
  return "registers " + Hex16(start) + ".." + Hex16(static_cast<std::uint16_t>(start + count - 1));
}

// A register of the map that a master may write.
bool IsWritable(unsigned address) {
  const RegisterBlock* block =
      address <= 0xFFFF ? BlockOf(static_cast<std::uint16_t>(address)) : nullptr;
  return block != nullptr && block->writable;
}

// The notes name a relay by its number and state, as the module's documentation does, and any
// other register by its channel.
std::string WrittenNote(std::uint16_t address, std::uint16_t value) {
  if (const int relay = RelayOfRegister(address))
    return "relay " + std::to_string(relay) + (value ? " on" : " off");
  return ChannelName(address) + "=" + std::to_string(value);
}

std::string RefusedValueNote(std::uint16_t address, std::uint16_t value) {
  const std::string name = RelayOfRegister(address) ? "relay" : ChannelName(address);
  return name + " value " + std::to_string(value) + " refused";
}

}  // namespace

SimulatedModule::SimulatedModule(const ModuleConfig& config) : config_(config) {
  for (const RegisterBlock& block : kRegisterMap)
    for (int i = 0; i < block.count; ++i)
      registers_[static_cast<std::uint16_t>(block.start + i)] = 0;
  for (int channel = 1; channel <= kInputCount; ++channel)
    SetInput(channel, config.inputs[channel - 1]);
}

bool SimulatedModule::SetInput(int channel, std::uint16_t value) {
  if (channel < 1 || channel > kInputCount) return false;
  registers_[static_cast<std::uint16_t>(kInputBlockRegister + channel - 1)] = value;
  return true;
}

std::uint16_t SimulatedModule::Input(int channel) const {
  if (channel < 1 || channel > kInputCount) return 0;
  return *Register(static_cast<std::uint16_t>(kInputBlockRegister + channel - 1));
}

std::uint16_t SimulatedModule::Relay(int relay) const {
  return relay >= 1 && relay <= kRelayCount ? *Register(RelayRegister(relay)) : 0;
}

std::optional<std::uint16_t> SimulatedModule::Register(std::uint16_t address) const {
  const auto found = registers_.find(address);
  if (found == registers_.end()) return std::nullopt;
  return found->second;
}

std::optional<Handled> SimulatedModule::RefusedValue(std::uint8_t function, std::uint16_t address,
                                                     std::uint16_t value, bool broadcast) {
  if (value <= BlockOf(address)->highestValue) return std::nullopt;
  return Exception(function, ExceptionCode::IllegalDataValue, broadcast,
                   RefusedValueNote(address, value));
}

Handled SimulatedModule::HandleRequest(const xcom::ByteString& frame) {
  if (frame.size() < 4) return {Outcome::TooShort, {}, "frame too short, ignored"};
  if (!HasValidCrc(frame)) return {Outcome::BadCrc, {}, "bad CRC, no answer"};
  const std::uint8_t address = frame[0];
  const bool broadcast = address == 0;
  if (!broadcast && address != config_.address)
    return {Outcome::OtherAddress, {}, "for address " + std::to_string(address) + ", no answer"};
  if (mode_ == DeviceMode::DataCentre && config_.dataCentreModbus == DataCentreModbus::Ignore)
    return {Outcome::IgnoredDataCentre, {}, "Modbus request in data-centre mode, not answered"};

  switch (frame[1]) {
    case kReadHolding:
      return Read(frame, broadcast);
    case kWriteSingle:
      return WriteSingle(frame, broadcast);
    case kWriteMultiple:
      return WriteMultiple(frame, broadcast);
    default:
      return Exception(frame[1], ExceptionCode::IllegalFunction, broadcast,
                       "function " + std::to_string(frame[1]) + " not supported");
  }
}

Handled SimulatedModule::Exception(std::uint8_t function, ExceptionCode code, bool broadcast,
                                   std::string note) {
  const auto codeValue = static_cast<std::uint8_t>(code);
  note += ": exception " + ByteToHex(codeValue);
  if (broadcast) return {Outcome::Broadcast, {}, note + " (broadcast, no answer)"};
  xcom::ByteString reply{config_.address, static_cast<std::uint8_t>(function | 0x80), codeValue};
  return {Outcome::Exception, WithCrc(std::move(reply)), std::move(note)};
}

Handled SimulatedModule::Read(const xcom::ByteString& frame, bool broadcast) {
  if (frame.size() != 8)
    return Exception(frame[1], ExceptionCode::IllegalDataValue, broadcast,
                     "read request of " + std::to_string(frame.size()) + " bytes");
  const std::uint16_t start = Word(frame, 2);
  const std::uint16_t count = Word(frame, 4);
  if (count == 0 || count > kMaxReadCount)
    return Exception(frame[1], ExceptionCode::IllegalDataValue, broadcast,
                     "read of " + std::to_string(count) + " registers");
  xcom::ByteString reply{config_.address, frame[1], static_cast<std::uint8_t>(count * 2)};
  for (unsigned i = 0; i < count; ++i) {
    const unsigned address = start + i;
    const auto value = address <= 0xFFFF ? Register(static_cast<std::uint16_t>(address))
                                         : std::optional<std::uint16_t>{};
    if (!value)
      return Exception(frame[1], ExceptionCode::IllegalDataAddress, broadcast,
                       "read of " + RangeText(start, count) + " outside the map");
    PutWord(reply, *value);
  }
  // A broadcast read is meaningless: nothing is answered.
  if (broadcast) return {Outcome::Broadcast, {}, "broadcast read ignored"};
  return {Outcome::Answered, WithCrc(std::move(reply)), "read " + RangeText(start, count)};
}

Handled SimulatedModule::WriteSingle(const xcom::ByteString& frame, bool broadcast) {
  if (frame.size() != 8)
    return Exception(frame[1], ExceptionCode::IllegalDataValue, broadcast,
                     "write request of " + std::to_string(frame.size()) + " bytes");
  const std::uint16_t reg = Word(frame, 2);
  const std::uint16_t value = Word(frame, 4);
  if (!IsWritable(reg))
    return Exception(frame[1], ExceptionCode::IllegalDataAddress, broadcast,
                     "write to " + RangeText(reg, 1) + " refused");
  if (auto refused = RefusedValue(frame[1], reg, value, broadcast)) return std::move(*refused);
  registers_[reg] = value;
  std::string note = WrittenNote(reg, value);
  if (broadcast) return {Outcome::Broadcast, {}, note + " (broadcast, no answer)"};
  // The reply to function 06 is the request itself.
  return {Outcome::Answered, frame, std::move(note)};
}

Handled SimulatedModule::WriteMultiple(const xcom::ByteString& frame, bool broadcast) {
  if (frame.size() < 9 || frame.size() != 9u + frame[6])
    return Exception(frame[1], ExceptionCode::IllegalDataValue, broadcast,
                     "write request of " + std::to_string(frame.size()) + " bytes");
  const std::uint16_t start = Word(frame, 2);
  const std::uint16_t count = Word(frame, 4);
  if (count == 0 || count > kMaxWriteCount || frame[6] != count * 2)
    return Exception(frame[1], ExceptionCode::IllegalDataValue, broadcast,
                     "write of " + std::to_string(count) + " registers with " +
                         std::to_string(frame[6]) + " data bytes");
  for (unsigned i = 0; i < count; ++i) {
    if (!IsWritable(start + i))
      return Exception(frame[1], ExceptionCode::IllegalDataAddress, broadcast,
                       "write to " + RangeText(start, count) + " refused");
  }
  for (unsigned i = 0; i < count; ++i) {
    const auto reg = static_cast<std::uint16_t>(start + i);
    if (auto refused = RefusedValue(frame[1], reg, Word(frame, 7 + 2 * i), broadcast))
      return std::move(*refused);
  }
  std::string note;
  for (unsigned i = 0; i < count; ++i) {
    const auto reg = static_cast<std::uint16_t>(start + i);
    registers_[reg] = Word(frame, 7 + 2 * i);
    if (!note.empty()) note += ", ";
    note += WrittenNote(reg, registers_[reg]);
  }
  if (broadcast) return {Outcome::Broadcast, {}, note + " (broadcast, no answer)"};
  xcom::ByteString reply{config_.address, frame[1]};
  PutWord(reply, start);
  PutWord(reply, count);
  return {Outcome::Answered, WithCrc(std::move(reply)), std::move(note)};
}

Handled SimulatedModule::HandleModeFrame(const xcom::ByteString& frame) {
  if (frame.size() != kModeFrameSize || !IsModeFrameHead(frame.data(), frame.size()))
    return {Outcome::ModeBadChecksum, {}, "malformed mode frame ignored"};
  const std::uint8_t checksum = ModeFrameChecksum(frame);
  if (checksum != frame[8])
    return {Outcome::ModeBadChecksum,
            {},
            "mode frame with bad checksum " + ByteToHex(frame[8]) + " (expected " +
                ByteToHex(checksum) + ") ignored"};
  const std::optional<int> mode = ModeOf(frame);
  if (!mode)
    return {Outcome::ModeUnknown,
            {},
            "mode frame for unknown mode " + ByteToHex(frame[kModeNumberAt]) + " " +
                ByteToHex(frame[kModeTrailerAt]) + " ignored"};
  const DeviceMode previous = mode_;
  mode_ = *mode == kControlMode ? DeviceMode::Control : DeviceMode::DataCentre;
  std::string note = mode_ == DeviceMode::Control ? "control mode" : "data-centre mode";
  note = (previous == mode_ ? "mode frame: stays in " : "mode frame: switched to ") + note;
  xcom::ByteString reply;
  if (config_.modeReply == ModeReply::Echo) reply = frame;
  return {Outcome::ModeSwitched, std::move(reply), std::move(note)};
}

}  // namespace kestrum_sim
