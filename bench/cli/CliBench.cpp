// kestrum against the simulated module on pseudo-terminals: the read-all round trip (median of
// 1000), and the same command on 1, 4 and 8 ports at once (total time against one port).
// Prints figures; nothing passes or fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>
#include <vector>

#include "Commands.h"
#include "ModuleCommands.h"
#include "PortRun.h"
#include "PortSettings.h"
#include "PseudoTerminal.h"
#include "Simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace kestrum;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

kestrum_sim::Simulator::Options Answering(std::chrono::milliseconds after) {
  kestrum_sim::Simulator::Options options;
  options.faults.delay = after;
  return options;
}

// The module answers `after` a request; on a pty bytes take no line time, so the delay stands
// for the line (at 9600 baud a request and its reply are on the wire for about 18 ms).
struct SimulatedModule {
  explicit SimulatedModule(std::chrono::milliseconds after = {})
      : pty(kestrum_sim::LineSettings{}), sim(Answering(after)) {
    sim.Start(pty.MasterFd());
  }
  kestrum_sim::PseudoTerminal pty;
  kestrum_sim::Simulator sim;
};

Invocation ReadAllOn(const std::vector<std::string>& ports, unsigned count) {
  Invocation run;
  run.ports = ports;
  run.command = "watch";
  run.intervalMs = 0;
  run.count = count;
  run.quiet = true;
  return run;
}

void RoundTrip(int samples) {
  SimulatedModule module;
  const Invocation run = ReadAllOn({module.pty.SlavePath()}, 1);
  auto opened = OpenPort(run, module.pty.SlavePath());
  auto& port = *std::get<std::unique_ptr<xcom::TXComm>>(opened);
  std::ostringstream sink;
  Reporter reporter(sink, sink, {});
  const std::atomic<bool> stop{false};
  ModbusMaster master(port, module.pty.SlavePath(), LinkTiming{}, stop, reporter);
  ModuleCommands commands(master, run.address);
  const auto readAll = EntryOf("read").reads;
  std::vector<double> times;
  for (int i = 0; i < samples; ++i) {
    const auto start = Clock::now();
    if (commands.Read(readAll).code != ExitCode::Success) std::printf("read-all %d failed\n", i);
    times.push_back(Ms(Clock::now() - start));
  }
  std::printf(
      "read-all round trip (two requests and replies, 9600 8N1 pty, %d samples): median "
      "%.3f ms, p90 %.3f ms, max %.3f ms\n",
      samples, Percentile(times, 0.5), Percentile(times, 0.9), Percentile(times, 1.0));
}

// The whole run of the command (open, `reads` read-alls, close) on `ports` modules at once.
double ParallelRun(std::size_t ports, unsigned reads, std::chrono::milliseconds after) {
  std::vector<std::unique_ptr<SimulatedModule>> modules;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < ports; ++i) {
    modules.push_back(std::make_unique<SimulatedModule>(after));
    names.push_back(modules.back()->pty.SlavePath());
  }
  std::ostringstream sink;
  Reporter reporter(sink, sink, {false, true, false, true});
  const std::atomic<bool> stop{false};
  const auto start = Clock::now();
  const ExitCode code = RunOnAllPorts(ReadAllOn(names, reads), reporter, stop);
  const double took = Ms(Clock::now() - start);
  if (code != ExitCode::Success) std::printf("  (%zu ports: exit code %d)\n", ports, int(code));
  return took;
}

void Parallel(unsigned reads, std::chrono::milliseconds after) {
  std::printf(
      "same command on 1, 4, 8 ports at once, %u read-alls per port, module answering "
      "after %lld ms (median of 5 runs):\n",
      reads, static_cast<long long>(after.count()));
  double single = 0;
  for (const std::size_t ports : {1, 4, 8}) {
    std::vector<double> runs;
    for (int i = 0; i < 5; ++i) runs.push_back(ParallelRun(ports, reads, after));
    const double median = Percentile(runs, 0.5);
    if (ports == 1) single = median;
    std::printf("  %zu port%s: %8.1f ms total, %.2fx one port%s\n", ports, ports == 1 ? " " : "s",
                median, median / single, ports == 8 ? " (goal: at most 1.5x)" : "");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int samples = argc > 1 ? std::atoi(argv[1]) : 1000;
  RoundTrip(samples);
  // As on a line: the module's answer takes the time of the bytes on the wire.
  Parallel(20, std::chrono::milliseconds(20));
  // Nothing but the pty: every port's exchanges and every module compete for the CPU.
  Parallel(200, std::chrono::milliseconds(0));
}
