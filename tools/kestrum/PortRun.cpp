#include "PortRun.h"

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
    if (result.code != ExitCode::Interrupted) report(result);
    return result.code;
  };
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

}  // namespace

ExitCode RunOnPort(const Invocation& run, const std::string& portName, Reporter& reporter,
                   const std::atomic<bool>& stop) {
  auto opened = OpenPort(run, portName);
  if (auto* why = std::get_if<std::string>(&opened)) {
    reporter.Message(portName, *why);
    return ExitCode::CannotOpen;
  }
  auto& port = *std::get<std::unique_ptr<xcom::TXComm>>(opened);
  LinkTiming timing;
  timing.timeout = std::chrono::milliseconds(run.timeoutMs);
  timing.retries = run.retries;
  timing.silence = SilenceFor(run.baud.rate, BitsPerCharacter(run));
  try {
    ModbusMaster master(port, portName, timing, stop, reporter);
    ModuleCommands module(master, run.address);
    const ExitCode code = RunCommand(
        run, module, stop,
        [&](const Result& result) { reporter.Report(portName, run.address, result); },
        [&](const std::string& text) { reporter.Message(portName, text); });
    master.SettleLine();  // a late reply must not answer the next program's request
    if (reporter.OutputFailed()) return ExitCode::OutputFailed;
    return stop && run.command != Command::Watch ? ExitCode::Interrupted : code;
  } catch (const std::exception& error) {
    // The device failed under a transfer (an adapter pulled out, for one).
    reporter.Message(portName, port.DeviceLost() ? "device lost" : error.what());
    return port.DeviceLost() ? ExitCode::DeviceLost : ExitCode::NoReply;
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
