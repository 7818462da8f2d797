#include "PortRun.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "Commands.h"
#include "ModuleCommands.h"
#include "PortSettings.h"

namespace kestrum {
namespace {

ExitCode RunCommand(const Invocation& run, ModuleCommands& module, const CommandContext& context) {
  // The module answers nothing in data-centre mode: one that does not answer is put into control
  // mode, as the window's open does, and asked again. A module in control mode is not held up
  // by the mode frame and its settling.
  const CommandEntry& entry = EntryOf(run.command);
  if (entry.asksTheModule) module.WakeWithControlMode();
  return entry.runOn(run, module, context);
}

// The result that stands for the whole command on a port where it could not run: the line a
// script expects for it (for check its verdict), with the error.
Result FailedCommand(const Invocation& run, std::string error, ExitCode code) {
  const CommandEntry& entry = EntryOf(run.command);
  Result result;
  result.command = entry.word;
  if (entry.step != nullptr) result.step = entry.step(run);
  if (entry.verdict) result.pass = false;
  result.error = std::move(error);
  result.code = code;
  return result;
}

}  // namespace

ExitCode RunOnPort(const Invocation& run, const std::string& portName, Reporter& reporter,
                   const std::atomic<bool>& stop) {
  auto opened = OpenPort(run, portName);
  if (auto* why = std::get_if<std::string>(&opened)) {
    reporter.Report(portName, run.address, FailedCommand(run, *why, ExitCode::CannotOpen));
    return ExitCode::CannotOpen;
  }
  auto& port = *std::get<std::unique_ptr<xcom::TXComm>>(opened);
  LinkTiming timing;
  timing.timeout = std::chrono::milliseconds(run.timeoutMs);
  timing.retries = run.retries;
  timing.silence = SilenceFor(run.baud.rate, BitsPerCharacter(run));
  timing.character = std::chrono::microseconds(1000000ull * BitsPerCharacter(run) /
                                               std::max<std::uint32_t>(run.baud.rate, 1));
  try {
    ModbusMaster master(port, portName, timing, stop, reporter);
    ModuleCommands module(master, run.address, run.retries + 1);
    const CommandContext context{
        stop, [&](const Result& result) { reporter.Report(portName, run.address, result); },
        [&](const std::string& text) { reporter.Message(portName, text); }};
    const ExitCode code = RunCommand(run, module, context);
    master.SettleBeforeClose();  // a late reply must not answer the next program's request
    if (reporter.OutputFailed()) return ExitCode::OutputFailed;
    return stop && !EntryOf(run.command).endsOnStop ? ExitCode::Interrupted : code;
  } catch (const std::exception& error) {
    // The device failed under a transfer (an adapter pulled out, for one).
    const ExitCode code = port.DeviceLost() ? ExitCode::DeviceLost : ExitCode::NoReply;
    reporter.Report(
        portName, run.address,
        FailedCommand(run, code == ExitCode::DeviceLost ? "device lost" : error.what(), code));
    return code;
  }
}

ExitCode RunOnAllPorts(const Invocation& run, Reporter& reporter, const std::atomic<bool>& stop) {
  if (run.ports.size() == 1) return RunOnPort(run, run.ports.front(), reporter, stop);
  std::vector<ExitCode> codes(run.ports.size(), ExitCode::Success);
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < run.ports.size(); ++i)
      threads.emplace_back([&, i] { codes[i] = RunOnPort(run, run.ports[i], reporter, stop); });
  }
  ExitCode worst = ExitCode::Success;
  for (const ExitCode code : codes) worst = Worst(worst, code);
  return worst;
}

}  // namespace kestrum
