#include "ModuleModel.h"

#include <algorithm>

namespace modbus {

namespace {

std::uint16_t RegisterAt(std::span<const std::uint8_t> reply, std::size_t at) {
  return static_cast<std::uint16_t>(reply[at] << 8 | reply[at + 1]);
}

}  // namespace

const RegisterBlock* BlockOf(std::uint16_t reg) {
  const auto holds = [reg](const RegisterBlock& block) {
    return reg >= block.start && reg < block.start + block.count;
  };
  const auto* found = std::find_if(kRegisterMap.begin(), kRegisterMap.end(), holds);
  return found == kRegisterMap.end() ? nullptr : found;
}

const RegisterRead* ReadOf(std::uint16_t start, std::uint16_t count) {
  const auto* found =
      std::find(kModuleReads.begin(), kModuleReads.end(), RegisterRead{start, count});
  return found == kModuleReads.end() ? nullptr : found;
}

std::string ChannelName(std::uint16_t reg) {
  const RegisterBlock* block = BlockOf(reg);
  if (block == nullptr) return {};
  return block->label + std::to_string(reg - block->start + 1);
}

std::vector<std::uint16_t> RegistersOf(std::span<const std::uint8_t> reply, std::size_t count) {
  std::vector<std::uint16_t> registers;
  for (std::size_t i = 0; i < count; ++i) registers.push_back(RegisterAt(reply, 3 + 2 * i));
  return registers;
}

std::optional<Inputs> InputsOf(std::span<const std::uint16_t> registers) {
  if (registers.size() < 2) return std::nullopt;
  return Inputs{registers[0], registers[1]};
}

std::optional<Relays> RelaysOf(std::span<const std::uint16_t> registers) {
  if (registers.size() < 2) return std::nullopt;
  return Relays{registers[0], registers[1]};
}

}  // namespace modbus
