#include "EndOfLineCheck.h"

namespace kestrum {
namespace {

Result Step(Result result, const std::string& step, bool pass) {
  result.command = "check";
  result.step = step;
  result.pass = pass && result.code == ExitCode::Success;
  if (result.code == ExitCode::Success && !pass) result.code = ExitCode::Failed;
  return result;
}

bool InputsAsExpected(const Result& inputs, const std::optional<std::array<int, 2>>& expected) {
  if (!expected || inputs.values.size() != 2) return true;
  return static_cast<int>(inputs.values[0].second) == (*expected)[0] &&
         static_cast<int>(inputs.values[1].second) == (*expected)[1];
}

// The relay read back after switching `relay` to `on`: it shows the new state, the other relay
// keeps the one it had.
bool RelaysAsExpected(const Result& outputs, int relay, bool on, unsigned otherBefore) {
  if (outputs.values.size() != 2) return false;
  const unsigned switched = outputs.values[relay - 1].second;
  const unsigned other = outputs.values[2 - relay].second;
  return switched == (on ? 1u : 0u) && other == otherBefore;
}

// Switches the relay and reads it back; one step.
Result RelayStep(ModuleCommands& module, int relay, bool on, unsigned otherBefore) {
  const std::string name = "relay " + std::to_string(relay) + (on ? " on" : " off");
  const Result write = module.SwitchRelay(relay, on);
  if (write.code != ExitCode::Success) return Step(write, name, false);
  Result outputs = module.ReadOutputs();
  if (outputs.roundTripMs) *outputs.roundTripMs += *write.roundTripMs;
  return Step(outputs, name, RelaysAsExpected(outputs, relay, on, otherBefore));
}

// After a stop: the relays the test may have left on go off again, whatever the stop, for a
// module left with a relay energised can hurt whatever the fixture drives.
void SwitchBackOff(ModuleCommands& module, const std::array<bool, 2>& mayBeOn,
                   const std::function<void(const std::string&)>& say) {
  module.IgnoreStop();
  for (int relay = 1; relay <= 2; ++relay) {
    if (!mayBeOn[relay - 1]) continue;
    const Result off = module.SwitchRelay(relay, false);
    const std::string name = "relay " + std::to_string(relay);
    say(off.code == ExitCode::Success
            ? "check interrupted: " + name + " switched back off"
            : "check interrupted: " + name + " may still be on (" + off.error + ")");
  }
}

}  // namespace

ExitCode RunEndOfLineCheck(ModuleCommands& module,
                           const std::optional<std::array<int, 2>>& expectedInputs,
                           const std::function<void(const Result&)>& report,
                           const std::function<void(const std::string&)>& say) {
  ExitCode worst = ExitCode::Success;
  const auto take = [&](const Result& step) {
    report(step);
    worst = Worst(worst, step.code);
    return step.code != ExitCode::NoReply && step.code != ExitCode::Interrupted &&
           step.code != ExitCode::DeviceLost;
  };
  const Result inputs = module.ReadInputs();
  bool going = take(Step(inputs, "inputs", InputsAsExpected(inputs, expectedInputs)));
  Result outputs = going ? module.ReadOutputs() : Result{};
  going = going && take(Step(outputs, "relays", true));
  std::array<bool, 2> mayBeOn{false, false};
  for (int relay = 1; going && relay <= 2; ++relay) {
    const unsigned other = outputs.values.size() == 2 ? outputs.values[2 - relay].second : 0;
    mayBeOn[relay - 1] = true;
    going = take(RelayStep(module, relay, true, other));
    if (!going) break;
    const Result off = RelayStep(module, relay, false, other);
    mayBeOn[relay - 1] = off.values.size() != 2 || off.values[relay - 1].second != 0;
    going = take(off);
  }
  if (module.Stopped()) SwitchBackOff(module, mayBeOn, say);
  Result verdict;
  verdict.command = "check";
  verdict.step = "check";
  verdict.pass = worst == ExitCode::Success;
  verdict.code = worst;
  report(verdict);
  return worst;
}

}  // namespace kestrum
