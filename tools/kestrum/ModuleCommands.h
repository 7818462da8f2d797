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
  ModuleCommands(ModbusMaster& master, std::uint8_t address, unsigned tries = 3)
      : master_(master), address_(address), tries_(tries) {}

  Result Read(const modbus::RegisterRead& read);  // e.g. kReadInputs: DI1, DI2
  // Each read in turn (at least one), their values in one result; the first that fails ends it.
  // Values come only from a run of exchanges the master trusts (ModbusMaster::ConfirmRun): a
  // run in doubt is read again from a quiet line, up to the retry count and within the run's
  // bounds, and otherwise ends in a result that says the replies were out of step.
  Result Read(std::span<const modbus::RegisterRead> reads);
  // One writable register of the map (ModuleModel.h), confirmed by the module's echo; written
  // again, like a read, when its run was in doubt.
  Result Write(std::uint8_t reg, std::uint16_t value);
  Result SwitchRelay(int relay, bool on);
  Result SendMode(int mode);
  // A module that answers nothing is sent the control-mode frame once, then asked again: one left
  // in data-centre mode answers only in control mode.
  void WakeWithControlMode();
  // See ModbusMaster::IgnoreStop.
  void IgnoreStop() { master_.IgnoreStop(); }
  bool Stopped() const { return master_.Stopped(); }

 private:
  // One try of a result: its exchanges, and whether one was in doubt.
  struct Try {
    Result result;
    bool outOfStep = false;
  };
  Try ReadOnce(std::span<const modbus::RegisterRead> reads);
  Try WriteOnce(std::uint8_t reg, std::uint16_t value);
  // Tries until a try's replies are trusted (see Read), all tries within one run's bound.
  template <typename TryOnce>
  Result InStep(TryOnce tryOnce);

  ModbusMaster& master_;
  const std::uint8_t address_;
  const unsigned tries_;
};

// The steps their result lines name: "relay 1 on", "mode data-centre".
std::string RelayStepText(int relay, bool on);
std::string ModeStepText(int mode);

// The exit code for an exchange that did not bring a normal reply.
ExitCode CodeOf(const Exchange& exchange);

}  // namespace kestrum
