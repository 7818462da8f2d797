// The simulator's threads: changes from other threads while it serves, stopping with work
// pending, and a line whose other end goes away and comes back.
#include <gtest/gtest.h>

#include <pty.h>
#include <atomic>
#include <thread>

#include "SimTestSupport.h"

using namespace modbus;  // the protocol layer

namespace {

using kestrum_sim::Counters;
using kestrum_sim::Simulator;
using simtest::ReadRequest;
using simtest::SimOnPty;
using namespace std::chrono_literals;

TEST(SimulatorThreads, InputsSetFromAnotherThreadWhileTheToolReadsAreAlwaysWhole) {
  SimOnPty pty;
  pty.Sim().SetInput(2, 0x0001);
  std::atomic<bool> stop{false};
  std::thread toggler([&] {
    for (std::uint16_t v = 0; !stop; ++v) {
      pty.Sim().SetInput(1, v % 2);
      pty.Sim().SetInput(2, v % 2 ? 0x0100 : 0x0001);
      std::this_thread::yield();
    }
  });
  std::thread watcher([&] {
    while (!stop) {
      const Counters c = pty.Sim().GetCounters();
      EXPECT_LE(c.repliesSent, c.requests);
      (void)pty.Sim().State();
      std::this_thread::sleep_for(1ms);
    }
  });
  for (int i = 0; i < 50; ++i) {
    const xcom::ByteString reply = pty.Transact(ReadRequest(100, 0x10, 2), 9);
    ASSERT_EQ(reply.size(), 9u);
    EXPECT_TRUE(HasValidCrc(reply));
    EXPECT_LE(reply[4], 1);
    // DI2 changes between 0x0100 and 0x0001 in one step: never a mix of the two.
    EXPECT_TRUE((reply[5] == 0x01 && reply[6] == 0x00) || (reply[5] == 0x00 && reply[6] == 0x01))
        << simtest::Hex(reply);
  }
  stop = true;
  toggler.join();
  watcher.join();
  EXPECT_TRUE(simtest::Counts(pty.Sim(), [](const Counters& c) { return c.repliesSent == 50; }));
}

TEST(SimulatorThreads, StopDoesNotWaitForADelayedReplyAndIsIdempotent) {
  Simulator::Options options;
  options.faults.delay = 30s;
  auto pty = std::make_unique<SimOnPty>(options);
  pty->Send(ReadRequest(100, 0x10, 2));
  ASSERT_TRUE(pty->Sim().WaitFor([](const Counters& c) { return c.requests == 1; }, 5s));
  const auto start = kestrum_sim::Clock::now();
  pty->Sim().Stop();
  pty->Sim().Stop();
  EXPECT_LT(kestrum_sim::Clock::now() - start, 10s);
  EXPECT_FALSE(pty->Sim().Running());
  EXPECT_EQ(pty->Sim().GetCounters().repliesSent, 0u);
  EXPECT_THROW(pty->Sim().Start(pty->Port()), std::logic_error);
  pty.reset();  // destructor after Stop
}

TEST(SimulatorThreads, DestroyedWhileServingWithoutStop) {
  for (int round = 0; round < 5; ++round) {
    Simulator::Options options;
    options.faults.split = 200ms;
    SimOnPty pty(options);
    pty.Send(ReadRequest(100, 0x10, 2));
    pty.Read(1);
  }
}

TEST(SimulatorThreads, LogSinkReplacedWhileTheLineThreadLogs) {
  SimOnPty pty;
  std::atomic<int> first{0};
  std::atomic<int> second{0};
  pty.Sim().SetLogSink([&](const kestrum_sim::LogEntry&) { ++first; });
  std::thread sender([&] {
    for (int i = 0; i < 20; ++i) pty.Transact(ReadRequest(100, 0x10, 2), 9);
  });
  std::this_thread::sleep_for(5ms);
  pty.Sim().SetLogSink([&](const kestrum_sim::LogEntry&) { ++second; });
  sender.join();
  EXPECT_TRUE(simtest::Counts(pty.Sim(), [](const Counters& c) { return c.repliesSent == 20; }));
  // Two traffic lines per request: every one reaches one of the sinks (the last one just after
  // its reply was written).
  const auto giveUp = kestrum_sim::Clock::now() + 5s;
  while (first + second < 40 && kestrum_sim::Clock::now() < giveUp)
    std::this_thread::sleep_for(1ms);
  EXPECT_EQ(first + second, 40);
}

TEST(SimulatorThreads, OtherEndClosedAndReopenedIsServedAgain) {
  ptytest::PtyPair pty;
  Simulator sim;
  sim.Start(pty.MasterFd());
  simtest::WriteAll(pty.SlaveFd(), ReadRequest(100, 0x10, 2));
  EXPECT_EQ(simtest::ReadCount(pty.SlaveFd(), 9).size(), 9u);

  pty.CloseSlave();  // nobody holds the slave any more: the master sees a hang-up
  ASSERT_TRUE(sim.WaitFor([](const Counters& c) { return c.hangups == 1; }, 5s));
  EXPECT_TRUE(sim.Running());

  kestrum_sim::UniqueFd again = simtest::OpenRaw(pty.SlavePath());
  simtest::WriteAll(again.Get(), ReadRequest(100, 0x14, 2));
  EXPECT_EQ(simtest::ReadCount(again.Get(), 9).size(), 9u);
  EXPECT_TRUE(
      simtest::Counts(sim, [](const Counters& c) { return c.repliesSent == 2 && c.hangups == 1; }));
  sim.Stop();
}

}  // namespace
