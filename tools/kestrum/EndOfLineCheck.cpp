#include "EndOfLineCheck.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrum {
namespace {

Result Step(Result result, const std::string& step, bool pass) {
  result.command = "check";
  result.step = step;
  result.pass = pass && result.code == ExitCode::Success;
  if (result.code == ExitCode::Success && !pass) result.code = ExitCode::Failed;
  return result;
}

// The registers a read gave, in order.
std::vector<std::uint16_t> RegistersIn(const Result& read) {
  std::vector<std::uint16_t> registers;
  for (const auto& [name, value] : read.values) registers.push_back(std::uint16_t(value));
  return registers;
}

bool InputsAsExpected(const Result& read, const std::optional<std::array<int, 2>>& expected) {
  const std::optional<modbus::Inputs> inputs = modbus::InputsOf(RegistersIn(read));
  if (!expected || !inputs || read.values.size() != 2) return true;
  return inputs->di1 == (*expected)[0] && inputs->di2 == (*expected)[1];
}

// The relays read back: DO1 and DO2 as the test set them.
bool RelaysAre(const Result& read, std::uint16_t first, std::uint16_t second) {
  return read.values.size() == 2 &&
         modbus::RelaysOf(RegistersIn(read)) == modbus::Relays{first, second};
}

// Reads the relays back after `writes` and judges them; one step.
Result ReadBackStep(ModuleCommands& module, const std::string& name,
                    const std::vector<Result>& writes, std::array<std::uint16_t, 2> expected) {
  double roundTripMs = 0;
  for (const Result& write : writes) {
    if (write.code != ExitCode::Success) return Step(write, name, false);
    roundTripMs += *write.roundTripMs;
  }
  Result outputs = module.Read(modbus::kReadRelays);
  if (outputs.roundTripMs) *outputs.roundTripMs += roundTripMs;
  return Step(outputs, name, RelaysAre(outputs, expected[0], expected[1]));
}

// Switches `relay` with the other one off (where the test left it) and reads both back.
Result RelayStep(ModuleCommands& module, int relay, bool on) {
  const std::string name = RelayStepText(relay, on);
  std::array<std::uint16_t, 2> expected{0, 0};
  expected[relay - 1] = on ? 1 : 0;
  return ReadBackStep(module, name, {module.SwitchRelay(relay, on)}, expected);
}

// The known state the relay steps start from: both relays off, whatever they were.
Result BothOffStep(ModuleCommands& module) {
  std::vector<Result> writes{module.SwitchRelay(1, false)};
  if (writes[0].code == ExitCode::Success) writes.push_back(module.SwitchRelay(2, false));
  return ReadBackStep(module, "relays", writes, {0, 0});
}

// However the test ended before its end (a stop, no reply, the device lost, a failed write):
// the relays it may have left on go off again where the line still allows it, for a module left
// with a relay energised can hurt whatever the fixture drives. Standard error says what was done.
void SwitchBackOff(ModuleCommands& module, const std::array<bool, 2>& mayBeOn,
                   const std::string& why, const std::function<void(const std::string&)>& say) {
  module.IgnoreStop();
  for (int relay = 1; relay <= 2; ++relay) {
    if (!mayBeOn[relay - 1]) continue;
    const Result off = module.SwitchRelay(relay, false);
    const std::string name = "relay " + std::to_string(relay);
    say(off.code == ExitCode::Success
            ? "check " + why + ": " + name + " switched back off"
            : "check " + why + ": " + name + " may still be on (" + off.error + ")");
  }
}

// Why a step ended the test: "interrupted", "ended (device lost)".
std::string EndedBy(const Result& step) {
  return step.code == ExitCode::Interrupted ? "interrupted" : "ended (" + step.error + ")";
}

}  // namespace

ExitCode RunEndOfLineCheck(ModuleCommands& module,
                           const std::optional<std::array<int, 2>>& expectedInputs,
                           const std::function<void(const Result&)>& report,
                           const std::function<void(const std::string&)>& say) {
  ExitCode worst = ExitCode::Success;
  std::string endedBy;  // why a step ended the test early
  const auto take = [&](const Result& step) {
    report(step);
    worst = Worst(worst, step.code);
    const bool going = step.code != ExitCode::NoReply && step.code != ExitCode::Interrupted &&
                       step.code != ExitCode::DeviceLost;
    if (!going) endedBy = EndedBy(step);
    return going;
  };
  // A relay counts as possibly on from the first write to it until a read-back shows it off.
  std::array<bool, 2> mayBeOn{false, false};
  const Result inputs = module.Read(modbus::kReadInputs);
  bool going = take(Step(inputs, "inputs", InputsAsExpected(inputs, expectedInputs)));
  if (going) {
    mayBeOn = {true, true};
    const Result bothOff = BothOffStep(module);
    if (RelaysAre(bothOff, 0, 0)) mayBeOn = {false, false};
    going = take(bothOff);
  }
  for (int relay = 1; going && relay <= 2; ++relay) {
    mayBeOn[relay - 1] = true;
    going = take(RelayStep(module, relay, true));
    if (!going) break;
    const Result off = RelayStep(module, relay, false);
    mayBeOn[relay - 1] = off.values.size() != 2 || off.values[relay - 1].second != 0;
    going = take(off);
  }
  if (module.Stopped() && endedBy.empty()) endedBy = "interrupted";
  if (!endedBy.empty()) SwitchBackOff(module, mayBeOn, endedBy, say);
  Result verdict;
  verdict.command = "check";
  verdict.step = "check";
  verdict.pass = worst == ExitCode::Success;
  verdict.code = worst;
  report(verdict);
  return worst;
}

}  // namespace kestrum
