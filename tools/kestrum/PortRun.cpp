#include "PortRun.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "EndOfLineCheck.h"
#include "ModuleCommands.h"
#include "PortSettings.h"

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

// Reads every interval until the count is reached or Ctrl-C. A watch ended by Ctrl-C ends as
// it was meant to: its code is that of its reads.
ExitCode Watch(const Invocation& run, ModuleCommands& module, const std::atomic<bool>& stop,
               const std::function<void(Result)>& report) {
  ExitCode worst = ExitCode::Success;
  auto next = Clock::now();
  for (unsigned done = 0; !run.count || done < *run.count; ++done) {
    if (done > 0 && !SleepUnless(stop, next)) break;
    next += std::chrono::milliseconds(run.intervalMs);
    Result result = module.ReadAll();
    if (result.code == ExitCode::Interrupted) break;
    result.command = "watch";
    worst = Worst(worst, result.code);
    report(result);
    if (result.code == ExitCode::DeviceLost) break;
  }
  return worst;
}

ExitCode RunCommand(const Invocation& run, ModuleCommands& module, const std::atomic<bool>& stop,
                    const std::function<void(Result)>& report,
                    const std::function<void(const std::string&)>& say) {
  const auto single = [&report](Result result) {
    report(result);  // an interrupted one too: its JSON line says so
    return result.code;
  };
  // The module answers nothing in data-centre mode: it is put into control mode first, as the
  // window's open does (a module already in it takes no notice).
  if (run.command != Command::Mode) module.EnterControlMode();
  switch (run.command) {
    case Command::Read:
      return single(module.ReadAll());
    case Command::Relay:
      return single(module.SwitchRelay(run.relay, run.relayOn));
    case Command::Mode:
      return single(module.SendMode(run.mode));
    case Command::Watch:
      return Watch(run, module, stop, report);
    case Command::Check:
      return RunEndOfLineCheck(module, run.expectedInputs, report, say);
  }
  return ExitCode::Usage;
}

// The result that stands for the whole command on a port where it could not run: the line a
// script expects for it (for check its verdict), with the error.
Result FailedCommand(const Invocation& run, std::string error, ExitCode code) {
  static const char* const kNames[] = {"read", "relay", "watch", "mode", "check"};
  Result result;
  result.command = kNames[static_cast<int>(run.command)];
  if (run.command == Command::Relay)
    result.step = "relay " + std::to_string(run.relay) + (run.relayOn ? " on" : " off");
  if (run.command == Command::Mode)
    result.step = run.mode == 0 ? "mode control" : "mode data-centre";
  if (run.command == Command::Check) {
    result.step = "check";
    result.pass = false;
  }
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
    ModuleCommands module(master, run.address);
    const ExitCode code = RunCommand(
        run, module, stop,
        [&](const Result& result) { reporter.Report(portName, run.address, result); },
        [&](const std::string& text) { reporter.Message(portName, text); });
    master.SettleBeforeClose();  // a late reply must not answer the next program's request
    if (reporter.OutputFailed()) return ExitCode::OutputFailed;
    return stop && run.command != Command::Watch ? ExitCode::Interrupted : code;
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
