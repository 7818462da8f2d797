#pragma once
// The KESTRUM module as the master and the simulated slave both see it: its register map and
// the reads the tool makes of it, as data. One home, so the window, kestrum and the simulator
// cannot disagree about where a channel lives; a new read is one entry in kModuleReads, a new
// block of registers one entry in kRegisterMap.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace modbus {

// A block of 16-bit holding registers that hold channels of one kind, numbered from 1 in
// register order ("DO3" is the third register of the relays' block).
struct RegisterBlock {
  const char* label;           // the channels' name without their number
  std::uint16_t start;         // the first register
  int count;                   // its registers
  bool writable;               // a master may write it, or only read it
  std::uint16_t highestValue;  // the highest value a write may put in it
};

inline constexpr RegisterBlock kInputBlock{"DI", 0x0010, 2, false, 0xFFFF};  // DI1, DI2
inline constexpr RegisterBlock kRelayBlock{"DO", 0x0014, 4, true, 1};  // relays 1 to 4: 0 off, 1 on
inline constexpr std::array kRegisterMap{kInputBlock, kRelayBlock};

// A read the tool makes: `count` registers from `start`, all within one block of the map.
struct RegisterRead {
  std::uint16_t start = 0;
  std::uint16_t count = 0;
  bool operator==(const RegisterRead&) const = default;
};

// A read's reply: address, 03, byte count, the registers two bytes each, CRC.
inline constexpr std::size_t ReplyDataBytes(const RegisterRead& read) {
  return 2 * std::size_t{read.count};
}
inline constexpr std::size_t ReplySize(const RegisterRead& read) {
  return 5 + ReplyDataBytes(read);
}

inline constexpr RegisterRead kReadInputs{kInputBlock.start, 2};  // DI1, DI2
inline constexpr RegisterRead kReadRelays{kRelayBlock.start, 2};  // DO1, DO2
// The reads whose replies are decoded, found by the start register and count of the request.
inline constexpr std::array kModuleReads{kReadInputs, kReadRelays};

// The names the rest of the tool uses, derived from the map.
inline constexpr std::uint16_t kInputBlockRegister = kInputBlock.start;
inline constexpr std::uint16_t kOutputBlockRegister = kRelayBlock.start;
inline constexpr int kInputCount = kInputBlock.count;
inline constexpr int kRelayCount = kRelayBlock.count;
inline constexpr std::uint8_t kRelay1Register = kRelayBlock.start;
inline constexpr std::uint8_t kRelay2Register = kRelayBlock.start + 1;
inline constexpr std::uint8_t kRelay3Register = kRelayBlock.start + 2;
inline constexpr std::uint8_t kRelay4Register = kRelayBlock.start + 3;

// The block that holds register `reg`; null for a register outside the map.
const RegisterBlock* BlockOf(std::uint16_t reg);
// The read of kModuleReads of `count` registers from `start`; null when there is none.
const RegisterRead* ReadOf(std::uint16_t start, std::uint16_t count);
// The name of the channel register `reg` holds ("DI1"); empty outside the map.
std::string ChannelName(std::uint16_t reg);

// The `count` registers of a read reply (address, 03, byte count, data, CRC) from byte 3 on,
// each whole, as the module sent them. `reply` must hold them; its byte count and CRC are the
// caller's to check.
std::vector<std::uint16_t> RegistersOf(std::span<const std::uint8_t> reply, std::size_t count);

// The two designed reads, typed: what kReadInputs and kReadRelays give, each register whole,
// from their registers in order (RegistersOf). Fewer than two registers give nothing.
struct Inputs {
  std::uint16_t di1 = 0;
  std::uint16_t di2 = 0;
  bool operator==(const Inputs&) const = default;
};
struct Relays {
  std::uint16_t do1 = 0;
  std::uint16_t do2 = 0;
  bool operator==(const Relays&) const = default;
};
std::optional<Inputs> InputsOf(std::span<const std::uint16_t> registers);
std::optional<Relays> RelaysOf(std::span<const std::uint16_t> registers);

// The register of relay 1 to kRelayCount, and back (0 for a register that is no relay's).
inline constexpr std::uint8_t RelayRegister(int relay) {
  return static_cast<std::uint8_t>(kOutputBlockRegister + relay - 1);
}
inline constexpr int RelayOfRegister(std::uint16_t reg) {
  return reg >= kOutputBlockRegister && reg < kOutputBlockRegister + kRelayCount
             ? reg - kOutputBlockRegister + 1
             : 0;
}
static_assert(RelayRegister(2) == kRelay2Register && RelayOfRegister(kRelay4Register) == 4);

// The low byte of a register: what the window shows of a channel.
inline std::uint8_t LowByte(std::uint16_t value) {
  return static_cast<std::uint8_t>(value & 0xFF);
}

}  // namespace modbus
