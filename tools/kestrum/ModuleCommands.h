#pragma once
// The module's commands over a request/reply link, each giving one result: any of the module's
// reads (each register whole, named by its channel), switch a relay (confirmed by the module's
// echo), send a mode frame.

#include <cstdint>
#include <span>
#include <string>

#include "ModbusMaster.h"
#include "ModuleModel.h"
#include "Result.h"

namespace kestrum {

class ModuleCommands {
 public:
  ModuleCommands(ModbusMaster& master, std::uint8_t address) : master_(master), address_(address) {}

  Result Read(const modbus::RegisterRead& read);  // e.g. kReadInputs: DI1, DI2
  // Each read in turn (at least one), their values in one result; the first that fails ends it.
  Result Read(std::span<const modbus::RegisterRead> reads);
  // One writable register of the map (ModuleModel.h), confirmed by the module's echo.
  Result Write(std::uint8_t reg, std::uint16_t value);
  Result SwitchRelay(int relay, bool on);
  Result SendMode(int mode);
  // Sends the control-mode frame and lets the module take it in; nothing to report: a module
  // that is not there shows in the exchange that follows.
  void EnterControlMode();
  // See ModbusMaster::IgnoreStop.
  void IgnoreStop() { master_.IgnoreStop(); }
  bool Stopped() const { return master_.Stopped(); }

 private:
  ModbusMaster& master_;
  const std::uint8_t address_;
};

// The steps their result lines name: "relay 1 on", "mode data-centre".
std::string RelayStepText(int relay, bool on);
std::string ModeStepText(int mode);

// The exit code for an exchange that did not bring a normal reply.
ExitCode CodeOf(const Exchange& exchange);

}  // namespace kestrum
