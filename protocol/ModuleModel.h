#pragma once
// The KESTRUM module as the master and the simulated slave both see it: its register map and
// the values a read of two registers gives. One home, so the window, kestrum and the simulator
// cannot disagree about where a channel lives.
//
// Register map (16-bit holding registers):
//   0x0010, 0x0011   digital inputs DI1 and DI2 (read only)
//   0x0014 .. 0x0017 relays 1 to 4 (read/write; 0 = off, 1 = on)

#include <cstdint>
#include <span>

namespace modbus {

inline constexpr std::uint16_t kInputBlockRegister = 0x0010;   // DI1, DI2
inline constexpr std::uint16_t kOutputBlockRegister = 0x0014;  // relay 1, relay 2, ...
inline constexpr int kInputCount = 2;
inline constexpr int kRelayCount = 4;
inline constexpr std::uint8_t kRelay1Register = 0x14;
inline constexpr std::uint8_t kRelay2Register = 0x15;
inline constexpr std::uint8_t kRelay3Register = 0x16;
inline constexpr std::uint8_t kRelay4Register = 0x17;
static_assert(kRelay1Register == kOutputBlockRegister);

// The two registers of a read reply (address, 03, byte count, data, CRC), whole, as the module
// sent them. `reply` must hold at least the 7 bytes up to the second register; what it holds
// beyond them, its byte count and its CRC are the caller's to check.
struct RegisterPair {
  std::uint16_t first = 0;
  std::uint16_t second = 0;
  bool operator==(const RegisterPair&) const = default;
};
RegisterPair RegisterPairOf(std::span<const std::uint8_t> reply);

// The module's two reads, typed: what a read of the input block (0x0010-0x0011) and of the
// first two relays (0x0014-0x0015) gives, each register whole. `reply` as for RegisterPairOf.
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
Inputs InputsOf(std::span<const std::uint8_t> reply);
Relays RelaysOf(std::span<const std::uint8_t> reply);

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
