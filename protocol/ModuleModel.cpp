#include "ModuleModel.h"

namespace modbus {

namespace {

std::uint16_t RegisterAt(std::span<const std::uint8_t> reply, std::size_t at) {
  return static_cast<std::uint16_t>(reply[at] << 8 | reply[at + 1]);
}

}  // namespace

RegisterPair RegisterPairOf(std::span<const std::uint8_t> reply) {
  return {RegisterAt(reply, 3), RegisterAt(reply, 5)};
}

Inputs InputsOf(std::span<const std::uint8_t> reply) {
  const RegisterPair registers = RegisterPairOf(reply);
  return {registers.first, registers.second};
}

Relays RelaysOf(std::span<const std::uint8_t> reply) {
  const RegisterPair registers = RegisterPairOf(reply);
  return {registers.first, registers.second};
}

}  // namespace modbus
