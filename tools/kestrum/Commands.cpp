#include "Commands.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include "EndOfLineCheck.h"
#include "ModuleCommands.h"

namespace kestrum {
namespace {

using Clock = std::chrono::steady_clock;

// Sleeps until `until`, or less when `stop` is set. False when stopped.
bool SleepUnless(const std::atomic<bool>& stop, Clock::time_point until) {
  while (!stop) {
    const auto left = until - Clock::now();
    if (left <= Clock::duration::zero()) return true;
    std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(20)));
  }
  return false;
}

// A command of one result, an interrupted one too: its JSON line says so.
ExitCode Single(const CommandContext& context, const Result& result) {
  context.report(result);
  return result.code;
}

// The entry's reads, their values in one line.
ExitCode RunReads(const Invocation& run, ModuleCommands& module, const CommandContext& context) {
  Result result = module.Read(EntryOf(run.command).reads);
  result.command = run.command;
  return Single(context, result);
}

ExitCode RunRelay(const Invocation& run, ModuleCommands& module, const CommandContext& context) {
  return Single(context, module.SwitchRelay(run.relay, run.relayOn));
}

ExitCode RunMode(const Invocation& run, ModuleCommands& module, const CommandContext& context) {
  return Single(context, module.SendMode(run.mode));
}

// When the round due at `due` on the grid of `interval` is to start: rounds missed while a read
// ran long are skipped (the last one due starts at once), not fired in a burst, and the grid
// does not drift.
Clock::time_point NextRound(Clock::time_point due, Clock::duration interval) {
  const auto now = Clock::now();
  if (due >= now || interval <= Clock::duration::zero()) return due;
  return due + ((now - due) / interval) * interval;
}

// Reads every interval until the count is reached or Ctrl-C. A watch ended by Ctrl-C ends as
// it was meant to: its code is that of its reads.
ExitCode RunWatch(const Invocation& run, ModuleCommands& module, const CommandContext& context) {
  ExitCode worst = ExitCode::Success;
  const auto interval = std::chrono::milliseconds(run.intervalMs);
  auto due = Clock::now();
  for (unsigned done = 0; !run.count || done < *run.count; ++done) {
    if (done > 0 && !SleepUnless(context.stop, due)) break;
    Result result = module.Read(EntryOf(run.command).reads);
    if (result.code == ExitCode::Interrupted) break;
    result.command = "watch";
    worst = Worst(worst, result.code);
    context.report(result);
    if (result.code == ExitCode::DeviceLost) break;
    due = NextRound(due + interval, interval);
  }
  return worst;
}

ExitCode RunCheck(const Invocation& run, ModuleCommands& module, const CommandContext& context) {
  return RunEndOfLineCheck(module, run.expectedInputs, context.report, context.say);
}

void TakeRelayArguments(Invocation& run, std::span<const std::string> arguments) {
  run.relay = static_cast<int>(NumberIn("relay", arguments[0], 1, 2));
  if (arguments[1] != "on" && arguments[1] != "off")
    throw UsageError("relay takes on or off, not '" + arguments[1] + "'");
  run.relayOn = arguments[1] == "on";
}

void TakeModeArguments(Invocation& run, std::span<const std::string> arguments) {
  if (arguments[0] != "control" && arguments[0] != "data-centre")
    throw UsageError("mode takes control or data-centre, not '" + arguments[0] + "'");
  run.mode = arguments[0] == "control" ? 0 : 1;
}

std::string RelayStep(const Invocation& run) {
  return RelayStepText(run.relay, run.relayOn);
}

std::string ModeStep(const Invocation& run) {
  return ModeStepText(run.mode);
}

std::string CheckStep(const Invocation&) {
  return "check";
}

// The reads of the read-all: the inputs, then the relays.
constexpr modbus::RegisterRead kReadAll[] = {modbus::kReadInputs, modbus::kReadRelays};
constexpr std::span<const modbus::RegisterRead> kNoReads;

const std::array<CommandEntry, 5> kCommands = {{
    {"read", 0, nullptr, "  read                        read DI1, DI2, DO1, DO2 of the module\n",
     nullptr, false, true, false, RunReads, kReadAll},
    {"relay", 2, TakeRelayArguments,
     "  relay N on|off              switch relay N (1 or 2), confirmed by the module's echo\n",
     RelayStep, false, true, false, RunRelay, kNoReads},
    {"watch", 0, nullptr,
     "  watch [--interval MS] [--count N]\n"
     "                              read repeatedly (default every 2000 ms, until interrupted)\n",
     nullptr, false, true, true, RunWatch, kReadAll},
    {"mode", 1, TakeModeArguments, "  mode control|data-centre    send the mode frame\n", ModeStep,
     false, false, false, RunMode, kNoReads},
    {"check", 0, nullptr,
     "  check [--expect-di A,B]     end-of-line test: read the inputs (and compare with A,B), "
     "switch\n"
     "                              both relays off, then each relay on, read back, off, read "
     "back;\n"
     "                              PASS or FAIL per step\n",
     CheckStep, true, true, false, RunCheck, kNoReads},
}};

}  // namespace

std::span<const CommandEntry> Commands() {
  return kCommands;
}

const CommandEntry& EntryOf(const std::string& word) {
  return *EntryNamed(word);
}

const CommandEntry* EntryNamed(const std::string& word) {
  for (const CommandEntry& entry : kCommands)
    if (word == entry.word) return &entry;
  return nullptr;
}

std::string CommandWords() {
  std::string words;
  for (const CommandEntry& entry : kCommands)
    words += (words.empty() ? "" : ", ") + std::string(entry.word);
  return words;
}

}  // namespace kestrum
