// kestrum's commands against the simulated module on pseudo-terminals: its faults, a wrong
// address, exception replies, the JSON shape, several ports with one dead.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <future>
#include <memory>
#include <sstream>
#include <thread>

#include "EndOfLineCheck.h"
#include "ModbusCrc.h"
#include "PortRun.h"
#include "PortSettings.h"
#include "PseudoTerminal.h"
#include "Simulator.h"

using namespace modbus;  // the protocol layer

namespace kestrum {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The simulated module on the master of a pty; kestrum opens the slave path.
struct SimulatedPort {
  explicit SimulatedPort(const kestrum_sim::FaultOptions& faults = {},
                         std::array<std::uint16_t, 2> inputs = {1, 0},
                         kestrum_sim::ModuleConfig config = {}) {
    kestrum_sim::Simulator::Options options;
    options.faults = faults;
    options.module = config;
    options.module.inputs = inputs;
    sim = std::make_unique<kestrum_sim::Simulator>(options);
    sim->Start(pty.MasterFd());
  }
  kestrum_sim::PseudoTerminal pty{kestrum_sim::LineSettings{}};
  std::unique_ptr<kestrum_sim::Simulator> sim;
};

struct Outcome {
  ExitCode code;
  std::string out, err;
  std::chrono::milliseconds took;
};

// `stop` stands for Ctrl-C; none by default.
Outcome Kestrum(std::vector<std::string> arguments, const std::atomic<bool>& stop = false) {
  const auto parsed = ParseCommandLine(arguments);
  EXPECT_EQ(parsed.action, ParsedCommandLine::Action::Run) << parsed.error;
  const Invocation& run = parsed.invocation;
  std::ostringstream out, err;
  Reporter reporter(out, err, {run.json, run.quiet, run.verbose, run.ports.size() > 1});
  const auto start = Clock::now();
  const ExitCode code = RunOnAllPorts(run, reporter, stop);
  return {code, out.str(), err.str(),
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)};
}

TEST(KestrumOnPty, ReadsSwitchesAndChecksTheModule) {
  // Deaf to Modbus in data-centre mode, and echoing mode frames.
  kestrum_sim::ModuleConfig strict;
  strict.modeReply = kestrum_sim::ModeReply::Echo;
  strict.dataCentreModbus = kestrum_sim::DataCentreModbus::Ignore;
  SimulatedPort module({}, {1, 0}, strict);
  const std::string port = module.pty.SlavePath();
  Outcome first = Kestrum({"-p", port, "read"});
  EXPECT_EQ(first.code, ExitCode::Success) << first.err;
  EXPECT_EQ(first.out, "DI1=1 DI2=0 DO1=0 DO2=0\n");
  EXPECT_LT(first.took, 400ms);  // request and reply, not the window's fixed sleeps

  EXPECT_EQ(Kestrum({"-p", port, "relay", "2", "on"}).out, "relay 2 on ok\n");
  EXPECT_EQ(module.sim->State().relays[1], 1);
  EXPECT_EQ(Kestrum({"-p", port, "read"}).out, "DI1=1 DI2=0 DO1=0 DO2=1\n");

  // The check starts from both relays off, whatever it found.
  EXPECT_EQ(Kestrum({"-p", port, "relay", "1", "on"}).code, ExitCode::Success);
  Outcome check = Kestrum({"-p", port, "check", "--expect-di", "1,0"});
  EXPECT_EQ(check.code, ExitCode::Success) << check.out << check.err;
  EXPECT_EQ(check.out,
            "inputs DI1=1 DI2=0 PASS\nrelays DO1=0 DO2=0 PASS\nrelay 1 on DO1=1 DO2=0 PASS\n"
            "relay 1 off DO1=0 DO2=0 PASS\nrelay 2 on DO1=0 DO2=1 PASS\n"
            "relay 2 off DO1=0 DO2=0 PASS\ncheck PASS\n");
  Outcome wrongInputs = Kestrum({"-p", port, "check", "--expect-di", "0,0"});
  EXPECT_EQ(wrongInputs.code, ExitCode::Failed);
  EXPECT_EQ(wrongInputs.out.substr(0, 24), "inputs DI1=1 DI2=0 FAIL\n");
  EXPECT_NE(wrongInputs.out.find("check FAIL\n"), std::string::npos);

  const auto modeFrames = module.sim->GetCounters().modeFrames;
  Outcome mode = Kestrum({"-p", port, "mode", "data-centre"});
  EXPECT_EQ(mode.code, ExitCode::Success);
  EXPECT_EQ(mode.out, "mode data-centre ok\n");
  EXPECT_TRUE(
      module.sim->WaitFor([&](const auto& c) { return c.modeFrames == modeFrames + 1; }, 5s));
  EXPECT_EQ(module.sim->State().mode, kestrum_sim::DeviceMode::DataCentre);
  // Every other command puts the module back into control mode first.
  Outcome watch = Kestrum({"-p", port, "watch", "--interval", "30", "--count", "3"});
  EXPECT_EQ(watch.code, ExitCode::Success) << watch.err;
  EXPECT_EQ(watch.out,
            "DI1=1 DI2=0 DO1=0 DO2=0\nDI1=1 DI2=0 DO1=0 DO2=0\nDI1=1 DI2=0 DO1=0 DO2=0\n");
  EXPECT_GE(watch.took, 60ms);
  EXPECT_EQ(module.sim->State().mode, kestrum_sim::DeviceMode::Control);
  EXPECT_EQ(Kestrum({"-p", port, "-q", "read"}).out, "");
}

TEST(KestrumOnPty, RidesOutEveryLineFaultOfTheModule) {
  kestrum_sim::FaultOptions junk, split, delay, someCorrupt, someDropped;
  junk.junk = 1.0;
  split.split = 40ms;
  delay.delay = 100ms;
  someCorrupt.corrupt = 0.3;
  someDropped.drop = 0.3;
  for (const auto& faults : {junk, split, delay, someCorrupt, someDropped}) {
    SimulatedPort module(faults);
    // Enough retries that a 30 % fault rate practically always leaves one good reply.
    Outcome run = Kestrum({"-p", module.pty.SlavePath(), "-t", "250", "-r", "8", "watch",
                           "--interval", "0", "--count", "6"});
    EXPECT_EQ(run.code, ExitCode::Success) << run.err;
    EXPECT_EQ(run.out.size(), 6 * std::string("DI1=1 DI2=0 DO1=0 DO2=0\n").size()) << run.out;
  }
}

TEST(KestrumOnPty, NoValidReplyEndsInExitThreeAfterEveryAttempt) {
  SimulatedPort module;
  Outcome wrongAddress = Kestrum({"-p", module.pty.SlavePath(), "-a", "7", "-t", "200", "read"});
  EXPECT_EQ(wrongAddress.code, ExitCode::NoReply);
  EXPECT_GE(wrongAddress.took, 600ms);   // 200 ms × 3 attempts
  EXPECT_LT(wrongAddress.took, 3000ms);  // and at most 2 s from the last one for a late reply
  EXPECT_NE(wrongAddress.err.find("no valid reply from address 7 after 3 attempts"),
            std::string::npos)
      << wrongAddress.err;
  EXPECT_EQ(wrongAddress.err.find("CRC"), std::string::npos);  // silence is no corrupt reply
  // A check without replies fails at its first step and says so.
  Outcome check = Kestrum({"-p", module.pty.SlavePath(), "-a", "7", "-t", "50", "-r", "0", "check",
                           "--expect-di", "1,0"});
  EXPECT_EQ(check.code, ExitCode::NoReply);
  EXPECT_EQ(check.out, "inputs FAIL\ncheck FAIL\n");

  kestrum_sim::FaultOptions corrupt;
  corrupt.corrupt = 1.0;
  module.sim->SetFaults(corrupt);
  Outcome crc = Kestrum({"-p", module.pty.SlavePath(), "-t", "1000", "-r", "1", "read"});
  EXPECT_EQ(crc.code, ExitCode::NoReply);
  EXPECT_LT(crc.took, 1000ms);  // a corrupt reply is over at the silence after it
  EXPECT_NE(crc.err.find("after 2 attempts (1000 ms each), 2 replies with a CRC error"),
            std::string::npos)
      << crc.err;

  kestrum_sim::FaultOptions slow;
  slow.delay = 300ms;
  module.sim->SetFaults(slow);
  Outcome late =
      Kestrum({"-p", module.pty.SlavePath(), "-t", "100", "-r", "0", "relay", "1", "on"});
  EXPECT_EQ(late.code, ExitCode::NoReply);
  // The late echo of that attempt must not pass for the reply to the next command.
  std::this_thread::sleep_for(300ms);
  module.sim->SetFaults({});
  EXPECT_EQ(Kestrum({"-p", module.pty.SlavePath(), "read"}).out, "DI1=1 DI2=0 DO1=1 DO2=0\n");
}

// A module that answers every read `delay` after its request, whatever the tool does meanwhile
// (across the tool's close and the next program's open): inputs 1,1, relays off, so that a
// reply taken for the wrong request shows.
class LateModule {
 public:
  explicit LateModule(std::chrono::milliseconds delay)
      : peer_([this, delay](std::stop_token stop) {
          std::vector<std::pair<Clock::time_point, xcom::ByteString>> due;
          xcom::ByteString heard;
          for (std::uint8_t byte; !stop.stop_requested(); std::this_thread::sleep_for(1ms)) {
            while (::read(pty_.MasterFd(), &byte, 1) == 1)
              if (byte == 0x64 || !heard.empty()) heard.push_back(byte);  // not the mode frame
            if (heard.size() >= 8) {
              const std::uint8_t value = heard[3] == 0x10 ? 1 : 0;
              due.emplace_back(Clock::now() + delay, WithCrc({0x64, 3, 4, 0, value, 0, value}));
              heard.erase(heard.begin(), heard.begin() + 8);
            }
            if (due.empty() || due.front().first > Clock::now()) continue;
            (void)!::write(pty_.MasterFd(), due.front().second.data(), due.front().second.size());
            due.erase(due.begin());
          }
        }) {}
  kestrum_sim::PseudoTerminal pty_{kestrum_sim::LineSettings{}};
  std::jthread peer_;
};

// Later than one time-out, and later than every attempt and the wait after them: the values
// shown are the module's, or there are none (a read that cannot be trusted within its bound of
// attempts + 2 time-outs shows nothing); in one program and in the next.
TEST(KestrumOnPty, AReplyLaterThanTheTimeOutAnswersNoOtherRequest) {
  for (const auto delay : {150ms, 450ms}) {
    LateModule late(delay);
    const std::string port = late.pty_.SlavePath();
    std::string shown;
    for (int run = 0; run < 2; ++run) shown += Kestrum({"-p", port, "-t", "100", "read"}).out;
    shown +=
        Kestrum({"-p", port, "-t", "100", "-r", "0", "watch", "--interval", "0", "--count", "3"})
            .out;
    for (std::size_t at = 0; at < shown.size(); at = shown.find('\n', at) + 1)
      EXPECT_EQ(shown.substr(at, 24), "DI1=1 DI2=1 DO1=0 DO2=0\n") << shown;
  }
}

// The module's line hangs up under a watch without pause: the watch ends at once, and the trace
// shows no frame that was not written.
TEST(KestrumOnPty, ADeviceThatGoesAwayEndsTheRunAtOnce) {
  auto line = std::make_unique<kestrum_sim::PseudoTerminal>(kestrum_sim::LineSettings{});
  auto sim = std::make_unique<kestrum_sim::Simulator>();
  sim->Start(line->MasterFd());
  std::atomic<bool> stop{false};
  auto watch = std::async(std::launch::async, [&stop, port = line->SlavePath()] {
    return Kestrum({"-p", port, "-v", "watch", "--interval", "0"}, stop);
  });
  std::this_thread::sleep_for(100ms);
  sim.reset();
  line.reset();
  const bool ended = watch.wait_for(3s) == std::future_status::ready;
  stop = true;  // a watch that goes on is stopped, to fail below rather than hang
  const Outcome run = watch.get();
  EXPECT_TRUE(ended);
  EXPECT_EQ(run.code, ExitCode::DeviceLost);
  EXPECT_NE(run.err.find(": device lost\n"), std::string::npos);
  long sent = 0;
  for (auto at = run.err.find(" TX "); at != std::string::npos; at = run.err.find(" TX ", at + 1))
    ++sent;
  const auto lines = std::count(run.out.begin(), run.out.end(), '\n');
  // TX only for what left: the control-mode frame, two requests a line, and the read under way.
  EXPECT_LE(sent, 1 + 2 * lines + 2);
}

// A check stopped with relay 1 on (a reader that went away, Ctrl-C) sends nothing new, switches
// the relay back off and says so.
TEST(KestrumOnPty, AStoppedCheckSwitchesItsRelaysBackOff) {
  SimulatedPort module;
  const Invocation run = ParseCommandLine({"-p", module.pty.SlavePath(), "check"}).invocation;
  auto opened = OpenPort(run, module.pty.SlavePath());
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<xcom::TXComm>>(opened));
  std::ostringstream out, err;
  Reporter reporter(out, err, {});
  std::atomic<bool> stop{false};
  ModbusMaster master(*std::get<0>(opened), "port", {}, stop, reporter);
  ModuleCommands commands(master, run.address);
  std::vector<std::string> steps, said;
  const ExitCode code = RunEndOfLineCheck(
      commands, std::nullopt,
      [&](const Result& step) {
        steps.push_back(step.step);
        if (step.step == "relay 1 on") stop = true;
      },
      [&](const std::string& text) { said.push_back(text); });
  EXPECT_EQ(code, ExitCode::Interrupted);
  // The step under way when stopped ends interrupted; none follows but the verdict.
  EXPECT_EQ(steps,
            (std::vector<std::string>{"inputs", "relays", "relay 1 on", "relay 1 off", "check"}));
  EXPECT_EQ(module.sim->State().relays[0], 0);
  EXPECT_EQ(said, std::vector<std::string>{"check interrupted: relay 1 switched back off"});
}

// A line flooded with bytes that frame nothing: no reply, and no CRC error either.
TEST(KestrumOnPty, NoiseIsNoReplyWithACrcError) {
  kestrum_sim::PseudoTerminal pty{kestrum_sim::LineSettings{}};
  std::jthread flood([&pty](std::stop_token stop) {
    const std::uint8_t noise[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    while (!stop.stop_requested()) {
      (void)!::write(pty.MasterFd(), noise, sizeof noise);
      std::this_thread::sleep_for(30ms);
    }
  });
  const Outcome run = Kestrum({"-p", pty.SlavePath(), "-t", "100", "-r", "1", "read"});
  EXPECT_EQ(run.code, ExitCode::NoReply);
  EXPECT_EQ(run.err.find("CRC"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("blocks of stray bytes"), std::string::npos) << run.err;
}

// A peer that answers every request with exception 02 (the module in control mode answers at
// once: no mode frame comes first).
TEST(KestrumOnPty, AnExceptionReplyIsNamedAndEndsInExitOne) {
  kestrum_sim::PseudoTerminal pty{kestrum_sim::LineSettings{}};
  std::jthread peer([&pty](std::stop_token stop) {
    std::uint8_t request[8];
    std::size_t got = 0;
    while (!stop.stop_requested() && got < sizeof request) {
      const ssize_t n = ::read(pty.MasterFd(), request + got, sizeof request - got);
      if (n > 0)
        got += static_cast<std::size_t>(n);
      else
        std::this_thread::sleep_for(1ms);
    }
    const xcom::ByteString reply =
        WithCrc({request[0], static_cast<std::uint8_t>(request[1] | 0x80), 2});
    if (got == sizeof request) (void)!::write(pty.MasterFd(), reply.data(), reply.size());
  });
  Outcome run = Kestrum({"-p", pty.SlavePath(), "--json", "read"});
  EXPECT_EQ(run.code, ExitCode::Failed);
  EXPECT_NE(run.err.find("exception 02 (illegal data address)"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("\"error\":\"the module answered exception 02 (illegal data address)\""),
            std::string::npos)
      << run.out;
}

TEST(KestrumOnPty, SeveralPortsAtOnceOneDeadOneMissing) {
  SimulatedPort first, second;
  kestrum_sim::PseudoTerminal dead{kestrum_sim::LineSettings{}};  // nobody answers
  Outcome run =
      Kestrum({"-p", first.pty.SlavePath(), "-p", dead.SlavePath(), "-p", second.pty.SlavePath(),
               "-p", "/dev/kestrum-no-such-port", "-t", "300", "--json", "read"});
  EXPECT_EQ(run.code, ExitCode::CannotOpen);  // the worst of 0, 3, 0, 4
  EXPECT_LT(run.took, 5000ms);                // a safety limit: the attempts are counted below
  const std::string live = "{\"port\":\"" + first.pty.SlavePath() +
                           "\",\"address\":100,\"command\":\"read\",\"values\":{\"DI1\":1,"
                           "\"DI2\":0,\"DO1\":0,\"DO2\":0},\"round_trip_ms\":";
  const auto at = run.out.find(live);
  ASSERT_NE(at, std::string::npos) << run.out;
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(run.out[at + live.size()])));
  EXPECT_NE(run.out.find(",\"error\":null}\n", at), std::string::npos);
  EXPECT_NE(
      run.out.find("{\"port\":\"" + dead.SlavePath() +
                   "\",\"address\":100,\"command\":\"read\",\"values\":{},"
                   "\"round_trip_ms\":null,\"error\":\"no valid reply from address 100 after 3 "
                   "attempts (300 ms each)\"}\n"),
      std::string::npos)
      << run.out;
  EXPECT_NE(run.err.find("/dev/kestrum-no-such-port: cannot open: no such device"),
            std::string::npos)
      << run.err;
  // Every port named has its line, the one that did not open too, and so has a read that was
  // interrupted (here before it began).
  EXPECT_NE(run.out.find("{\"port\":\"/dev/kestrum-no-such-port\",\"address\":100,\"command\":"
                         "\"read\",\"values\":{},\"round_trip_ms\":null,\"error\":\"cannot open: "
                         "no such device"),
            std::string::npos);
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 4);
  const Outcome interrupted = Kestrum({"-p", first.pty.SlavePath(), "--json", "read"}, true);
  EXPECT_EQ(interrupted.code, ExitCode::Interrupted);
  EXPECT_NE(interrupted.out.find(",\"error\":\"interrupted\"}\n"), std::string::npos);
  // The live ports answered long before the dead one gave up: their lines come first.
  EXPECT_LT(run.out.find(second.pty.SlavePath()), run.out.find(dead.SlavePath()));

  Outcome plain = Kestrum({"-p", first.pty.SlavePath(), "-p", second.pty.SlavePath(), "read"});
  EXPECT_EQ(plain.code, ExitCode::Success);
  EXPECT_NE(plain.out.find(second.pty.SlavePath() + ": DI1=1 DI2=0 DO1=0 DO2=0\n"),
            std::string::npos);
}

}  // namespace
}  // namespace kestrum
