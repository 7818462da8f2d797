// kestrum against a module whose replies come late, irregularly or not at all (the simulator's
// latency schedule): a value is shown only from the reply to its own request, the run ends in
// time, and a watch gets back in step without drifting or firing missed rounds in a burst.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "EndOfLineCheck.h"
#include "PortRun.h"
#include "PortSettings.h"
#include "PseudoTerminal.h"
#include "Simulator.h"

namespace kestrum {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ms = std::chrono::milliseconds;

// The module's inputs 1,0 and relays 0,0: a reply taken for the other read shows.
constexpr const char* kValues = "DI1=1 DI2=0 DO1=0 DO2=0\n";

struct Schedule {
  std::vector<ms> latency;
  ms delay{0};
  unsigned answerEvery = 1;
  ms mute{0};
};

struct Row {
  const char* name;
  Schedule schedule;
  std::vector<std::string> arguments;  // after -p PORT
  // Every line holds the right values, and at least this many lines (the last ones) do; the
  // others may only say the replies were out of step or missing.
  std::size_t linesWithValues;
  ms atLeast, atMost;  // the run's duration
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
  return lines;
}

TEST(LatencySchedule, NoValueFromTheWrongRequestAndTheRunStaysInTime) {
  // A read, however many blocks it reads, ends within (attempts + 2) time-outs, with 250 ms for
  // the program's own start and end.
  const Row rows[] = {
      // A slow start: the first reply after the time-out, the second much later.
      {"600 then 1600 ms, -t 500", {{600ms, 1600ms}}, {"-t", "500", "read"}, 0, 0ms, 2750ms},
      {"150 then 450 ms, -t 100", {{150ms, 450ms}}, {"-t", "100", "read"}, 0, 0ms, 750ms},
      // One spike in a watch, on the relays' read: the rounds after it are in step again, on
      // the same grid.
      {"one spike in a watch",
       {{0ms, 700ms}},
       {"-t", "100", "watch", "--interval", "300", "--count", "8"},
       4,
       2100ms,
       3300ms},
      // Switched on 1 s after the watch began: read within two rounds of that.
      {"switched on late",
       {{}, 0ms, 1, 1000ms},
       {"-t", "100", "watch", "--interval", "300", "--count", "8"},
       3,
       2100ms,
       2900ms},
      // Answers every other or every third request: values from trusted replies only, within
      // the bound (the second leaves no time for the relays' read).
      {"every other request", {{}, 0ms, 2}, {"-t", "200", "read"}, 0, 0ms, 1250ms},
      {"every third request", {{}, 0ms, 3}, {"-t", "200", "read"}, 0, 0ms, 1250ms},
  };
  for (const Row& row : rows) {
    kestrum_sim::Simulator::Options options;
    options.module.inputs = {1, 0};
    options.faults.latency = row.schedule.latency;
    options.faults.delay = row.schedule.delay;
    options.faults.answerEvery = row.schedule.answerEvery;
    options.faults.mute = row.schedule.mute;
    kestrum_sim::PseudoTerminal pty{kestrum_sim::LineSettings{}};
    kestrum_sim::Simulator sim(options);
    sim.Start(pty.MasterFd());
    std::vector<std::string> arguments{"-p", pty.SlavePath()};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    const ParsedCommandLine parsed = ParseCommandLine(arguments);
    std::ostringstream out, err;
    Reporter reporter(out, err, {});
    const std::atomic<bool> stop{false};
    const auto start = Clock::now();
    const ExitCode code = RunOnAllPorts(parsed.invocation, reporter, stop);
    const auto took = std::chrono::duration_cast<ms>(Clock::now() - start);
    const std::vector<std::string> lines = Lines(out.str());
    for (const std::string& line : lines) EXPECT_EQ(line, kValues) << row.name;
    EXPECT_GE(lines.size(), row.linesWithValues) << row.name << "\n" << err.str();
    // Without values, the reason: out of step or no reply, exit 3.
    if (lines.empty()) {
      EXPECT_EQ(code, ExitCode::NoReply) << row.name;
    }
    if (code != ExitCode::Success) {
      EXPECT_TRUE(err.str().find("out of step") != std::string::npos ||
                  err.str().find("no valid reply") != std::string::npos)
          << row.name << err.str();
    }
    EXPECT_GE(took, row.atLeast) << row.name;
    EXPECT_LE(took, row.atMost) << row.name;
  }
}

// A check that ends right after "relay 1 on", however: relay 1 goes back off where the line
// allows it, and standard error says what was done or could not be.
TEST(LatencySchedule, ACheckEndedAtAnyStepLeavesNoRelayOn) {
  enum class End { Stop, Deaf, LineDies };
  const std::pair<End, const char*> rows[] = {
      {End::Stop, "check interrupted: relay 1 switched back off"},
      {End::Deaf, "check ended (no valid reply"},
      {End::LineDies, "relay 1 may still be on (device lost)"}};
  for (const auto& [end, said] : rows) {
    auto pty = std::make_unique<kestrum_sim::PseudoTerminal>(kestrum_sim::LineSettings{});
    kestrum_sim::Simulator sim;
    sim.Start(pty->MasterFd());
    const std::string path = pty->SlavePath();
    const Invocation run = ParseCommandLine({"-p", path, "check"}).invocation;
    auto opened = OpenPort(run, path);
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<xcom::TXComm>>(opened));
    std::ostringstream out, err;
    Reporter reporter(out, err, {});
    std::atomic<bool> stop{false};
    ModbusMaster master(*std::get<0>(opened), path, {50ms, 1}, stop, reporter);
    ModuleCommands commands(master, run.address);
    std::string stderrText;
    const ExitCode code = RunEndOfLineCheck(
        commands, std::nullopt,
        [&](const Result& step) {
          if (step.step != "relay 1 on") return;
          if (end == End::Stop) stop = true;
          kestrum_sim::FaultOptions deaf;
          deaf.drop = 1.0;
          if (end == End::Deaf) sim.SetFaults(deaf);
          if (end == End::LineDies) sim.Stop(), pty.reset();
        },
        [&](const std::string& text) { stderrText += text + "\n"; });
    EXPECT_NE(code, ExitCode::Success);
    EXPECT_NE(stderrText.find(said), std::string::npos) << stderrText;
    if (end != End::LineDies) {
      EXPECT_EQ(sim.State().relays[0], 0) << stderrText;
    }
  }
}

}  // namespace
}  // namespace kestrum
