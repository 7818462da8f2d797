#pragma once
// The module's commands over a request/reply link, each giving one result: read the inputs
// and relays, switch a relay (confirmed by the module's echo), send a mode frame.

#include <cstdint>

#include "ModbusMaster.h"
#include "Result.h"

namespace kestrum {

class ModuleCommands {
 public:
  ModuleCommands(ModbusMaster& master, std::uint8_t address) : master_(master), address_(address) {}

  Result ReadInputs();   // DI1, DI2 (registers 0x0010, 0x0011)
  Result ReadOutputs();  // DO1, DO2 (registers 0x0014, 0x0015)
  Result ReadAll();      // DI1, DI2, DO1, DO2
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

// The exit code for an exchange that did not bring a normal reply.
ExitCode CodeOf(const Exchange& exchange);

}  // namespace kestrum
