// The simulator on a pseudo-terminal pair, the way the tool meets it: exact replies, silence
// where a real slave is silent, framing across reads, and every fault option.
#include <gtest/gtest.h>

#include <pty.h>
#include <atomic>
#include <mutex>
#include <thread>

#include "SimTestSupport.h"

using namespace modbus;  // the protocol layer

namespace {

using kestrum_sim::Counters;
using kestrum_sim::DeviceMode;
using kestrum_sim::LogEntry;
using kestrum_sim::Simulator;
using simtest::Hex;
using simtest::ReadRequest;
using simtest::RelayRequest;
using simtest::SimOnPty;
using simtest::TwoRegisterReply;
using namespace std::chrono_literals;

const xcom::ByteString kModeControl = {0xAA, 0x55, 0x00, 0x05, 0xE0, 0x50, 0x00, 0x01, 0x35};
const xcom::ByteString kModeDataCentre = {0xAA, 0x55, 0x00, 0x05, 0xE0, 0x50, 0x01, 0x01, 0x36};

Simulator::Options Inputs(std::uint16_t di1, std::uint16_t di2) {
  Simulator::Options options;
  options.module.inputs = {di1, di2};
  return options;
}

xcom::ByteString Concat(const xcom::ByteString& a, const xcom::ByteString& b) {
  xcom::ByteString all = a;
  all.insert(all.end(), b.begin(), b.end());
  return all;
}

// Collects the simulator's log lines.
struct LogCollector {
  std::mutex mutex;
  std::vector<LogEntry> entries;
  kestrum_sim::LogSink Sink() {
    return [this](const LogEntry& entry) {
      std::lock_guard lock(mutex);
      entries.push_back(entry);
    };
  }
  bool Contains(const std::string& text, LogEntry::Level level) {
    std::lock_guard lock(mutex);
    for (const auto& entry : entries)
      if (entry.level == level && entry.text.find(text) != std::string::npos) return true;
    return false;
  }
};

TEST(SimulatorOnPty, EveryFrameOfTheToolGetsItsExactReply) {
  SimOnPty pty(Inputs(1, 0));
  // A whole read-all with input DI1 on: the documented reply, byte for byte.
  EXPECT_EQ(Hex(pty.Transact({0x64, 0x03, 0x00, 0x10, 0x00, 0x02, 0xCC, 0x3B}, 9)),
            "64 03 04 00 01 00 00 9E F5 ");
  EXPECT_EQ(Hex(pty.Transact({0x64, 0x03, 0x00, 0x14, 0x00, 0x02, 0x8D, 0xFA}, 9)),
            Hex(TwoRegisterReply(100, 0, 0)));
  // The relay commands, each answered with the standard 8-byte reply.
  for (std::uint8_t reg : {0x14, 0x15, 0x16, 0x17}) {
    for (std::uint8_t value : {1, 0, 1}) {
      const xcom::ByteString request = RelayRequest(100, reg, value);
      EXPECT_EQ(Hex(pty.Transact(request, 8)),
                Hex(WithCrc(xcom::ByteString(request.begin(), request.begin() + 6))));
    }
  }
  EXPECT_EQ(Hex(pty.Transact(RelayRequest(100, 0x14, 0), 8)).substr(0, 17), "64 10 00 14 00 01");
  // Relay 2 on, relay 1 off: the worked example's output-block reply.
  EXPECT_EQ(Hex(pty.Transact({0x64, 0x03, 0x00, 0x14, 0x00, 0x02, 0x8D, 0xFA}, 9)),
            "64 03 04 00 00 00 01 0E F5 ");
  EXPECT_TRUE(pty.ReadQuiet(100ms).empty());  // nothing beyond the replies
  EXPECT_TRUE(simtest::Counts(
      pty.Sim(), [](const Counters& c) { return c.requests == 16 && c.repliesSent == 16; }));
  EXPECT_EQ(pty.Sim().State().relays, (std::array<std::uint16_t, 4>{0, 1, 1, 1}));
}

TEST(SimulatorOnPty, ExceptionRepliesComeBackOnTheLine) {
  SimOnPty pty;
  EXPECT_EQ(Hex(pty.Transact(ReadRequest(100, 0x12, 2), 5)), Hex(WithCrc({0x64, 0x83, 0x02})));
  EXPECT_EQ(Hex(pty.Transact(RelayRequest(100, 0x10, 1), 5)), Hex(WithCrc({0x64, 0x90, 0x02})));
  // Unknown function: its end is found by the silence.
  EXPECT_EQ(Hex(pty.Transact(WithCrc({0x64, 0x2B, 0x0E, 0x01, 0x00}), 5)),
            Hex(WithCrc({0x64, 0xAB, 0x01})));
  EXPECT_TRUE(simtest::Counts(pty.Sim(), [](const Counters& c) { return c.exceptionsSent == 3; }));
}

TEST(SimulatorOnPty, BadCrcForeignAddressAndBroadcastAreNotAnswered) {
  SimOnPty pty(Inputs(0, 1));
  xcom::ByteString badCrc = ReadRequest(100, 0x10, 2);
  badCrc.back() ^= 0x40;
  pty.Send(badCrc);
  pty.Send(ReadRequest(7, 0x10, 2));
  pty.Send(RelayRequest(0, 0x15, 1));  // broadcast: relay 2 on, no answer
  std::this_thread::sleep_for(50ms);
  // The only reply on the line is the one to this read, which shows the broadcast took effect.
  pty.Send(ReadRequest(100, 0x14, 2));
  EXPECT_EQ(Hex(pty.Read(9)), Hex(TwoRegisterReply(100, 0, 1)));
  EXPECT_TRUE(pty.ReadQuiet(200ms).empty());
  EXPECT_TRUE(simtest::Counts(pty.Sim(), [](const Counters& c) {
    return c.repliesSent == 1 && c.otherAddress == 1 && c.broadcasts == 1 && c.discardedBlocks >= 1;
  }));
}

TEST(SimulatorOnPty, RequestSplitAcrossWritesIsJoinedAndRequestsInOneWriteAreAllAnswered) {
  Simulator::Options options = Inputs(1, 1);
  options.silence = 1000ms;  // the gap below is far shorter, even on a loaded machine
  SimOnPty pty(options);
  const xcom::ByteString request = ReadRequest(100, 0x10, 2);
  pty.Send(xcom::ByteString(request.begin(), request.begin() + 3));
  std::this_thread::sleep_for(30ms);
  pty.Send(xcom::ByteString(request.begin() + 3, request.end()));
  EXPECT_EQ(Hex(pty.Read(9)), Hex(TwoRegisterReply(100, 1, 1)));

  pty.Send(Concat(Concat(ReadRequest(100, 0x10, 2), RelayRequest(100, 0x17, 1)),
                  ReadRequest(100, 0x16, 2)));
  EXPECT_EQ(Hex(pty.Read(9 + 8 + 9)),
            Hex(Concat(Concat(TwoRegisterReply(100, 1, 1), WithCrc({0x64, 0x10, 0, 0x17, 0, 1})),
                       TwoRegisterReply(100, 0, 1))));
}

TEST(SimulatorOnPty, PartialFrameFollowedBySilenceIsDroppedAndGarbageSkipped) {
  Simulator::Options options = Inputs(1, 0);
  options.silence = 20ms;
  SimOnPty pty(options);
  const xcom::ByteString request = ReadRequest(100, 0x10, 2);
  pty.Send(xcom::ByteString(request.begin(), request.begin() + 5));
  ASSERT_TRUE(pty.Sim().WaitFor([](const Counters& c) { return c.discardedBlocks == 1; }, 5s));
  // Stray bytes right before a frame, in the same write.
  pty.Send(Concat({0xFF, 0x64, 0x03}, request));
  EXPECT_EQ(Hex(pty.Read(9)), "64 03 04 00 01 00 00 9E F5 ");
  EXPECT_TRUE(pty.ReadQuiet(200ms).empty());
  EXPECT_TRUE(simtest::Counts(pty.Sim(), [](const Counters& c) { return c.repliesSent == 1u; }));
}

TEST(SimulatorOnPty, ModeFramesSwitchTheModeAnswerNothingAndModbusGoesOn) {
  LogCollector log;
  Simulator::Options options = Inputs(1, 0);
  options.silence = 20ms;
  SimOnPty pty(options);
  pty.Sim().SetLogSink(log.Sink());
  pty.Send(kModeDataCentre);
  ASSERT_TRUE(pty.Sim().WaitFor([](const Counters& c) { return c.modeFrames == 1; }, 5s));
  EXPECT_EQ(pty.Sim().State().mode, DeviceMode::DataCentre);
  EXPECT_TRUE(log.Contains("switched to data-centre mode", LogEntry::Level::Event));
  // Free text in data-centre mode: reported in hex and as text.
  pty.Send(xcom::BytesOf("AT+PING\r\n"));
  ASSERT_TRUE(pty.Sim().WaitFor([](const Counters& c) { return c.freeTextBlocks == 1; }, 5s));
  EXPECT_TRUE(
      log.Contains("41 54 2B 50 49 4E 47 0D 0A  \"AT+PING\\r\\n\"", LogEntry::Level::Event));
  // Relay commands keep working in data-centre mode.
  EXPECT_EQ(pty.Transact(RelayRequest(100, 0x14, 1), 8).size(), 8u);
  pty.Send(kModeControl);
  EXPECT_EQ(Hex(pty.Transact(ReadRequest(100, 0x10, 2), 9)), "64 03 04 00 01 00 00 9E F5 ");
  EXPECT_EQ(pty.Sim().State().mode, DeviceMode::Control);
  xcom::ByteString bad = kModeDataCentre;
  bad[8] = 0x37;
  pty.Send(bad);
  ASSERT_TRUE(pty.Sim().WaitFor([](const Counters& c) { return c.badModeFrames == 1; }, 5s));
  EXPECT_EQ(pty.Sim().State().mode, DeviceMode::Control);
  EXPECT_TRUE(pty.ReadQuiet(200ms).empty());  // the three mode frames got no answer
  EXPECT_TRUE(simtest::Counts(pty.Sim(), [](const Counters& c) { return c.repliesSent == 2u; }));
}

TEST(SimulatorOnPty, EchoedModeFramesAndDataCentreWithoutModbusOnRequest) {
  Simulator::Options options;
  options.module.modeReply = kestrum_sim::ModeReply::Echo;
  options.module.dataCentreModbus = kestrum_sim::DataCentreModbus::Ignore;
  SimOnPty pty(options);
  EXPECT_EQ(pty.Transact(kModeDataCentre, 9), kModeDataCentre);
  pty.Send(ReadRequest(100, 0x10, 2));
  ASSERT_TRUE(pty.Sim().WaitFor([](const Counters& c) { return c.freeTextBlocks == 1; }, 5s));
  EXPECT_EQ(pty.Transact(kModeControl, 9), kModeControl);
  EXPECT_EQ(pty.Transact(ReadRequest(100, 0x10, 2), 9).size(), 9u);
}

TEST(SimulatorFaults, DelayHoldsEveryReplyBack) {
  Simulator::Options options = Inputs(1, 0);
  options.faults.delay = 300ms;
  SimOnPty pty(options);
  for (int i = 0; i < 2; ++i) {
    const auto start = kestrum_sim::Clock::now();
    EXPECT_EQ(Hex(pty.Transact(ReadRequest(100, 0x10, 2), 9)), "64 03 04 00 01 00 00 9E F5 ");
    // Only a lower bound: a loaded machine may be later, never earlier.
    EXPECT_GE(kestrum_sim::Clock::now() - start, 300ms);
  }
  EXPECT_TRUE(simtest::Counts(pty.Sim(), [](const Counters& c) { return c.repliesDelayed == 2u; }));
}

TEST(SimulatorFaults, SplitSendsTheReplyInTwoPartsWithAGap) {
  Simulator::Options options = Inputs(1, 0);
  options.faults.split = 500ms;
  SimOnPty pty(options);
  pty.Send(ReadRequest(100, 0x10, 2));
  const xcom::ByteString first = pty.ReadSome();  // the first part: the second is far off
  const auto firstAt = kestrum_sim::Clock::now();
  ASSERT_FALSE(first.empty());
  EXPECT_LT(first.size(), 9u);
  const xcom::ByteString second = pty.Read(9 - first.size());
  EXPECT_GE(kestrum_sim::Clock::now() - firstAt, 250ms);
  EXPECT_EQ(Hex(Concat(first, second)), "64 03 04 00 01 00 00 9E F5 ");
  EXPECT_TRUE(simtest::Counts(pty.Sim(), [](const Counters& c) { return c.repliesSplit == 1u; }));
}

TEST(SimulatorFaults, CorruptFlipsOneBitOfTheReply) {
  Simulator::Options options = Inputs(1, 0);
  options.faults.corrupt = 1.0;
  SimOnPty pty(options);
  const xcom::ByteString expected = TwoRegisterReply(100, 1, 0);
  for (int i = 0; i < 5; ++i) {
    const xcom::ByteString got = pty.Transact(ReadRequest(100, 0x10, 2), 9);
    ASSERT_EQ(got.size(), 9u);
    int bits = 0;
    for (std::size_t b = 0; b < 9; ++b) bits += __builtin_popcount(got[b] ^ expected[b]);
    EXPECT_EQ(bits, 1) << Hex(got);
  }
  EXPECT_TRUE(
      simtest::Counts(pty.Sim(), [](const Counters& c) { return c.repliesCorrupted == 5u; }));
}

TEST(SimulatorFaults, DropLeavesRepliesOutUntilSwitchedOff) {
  Simulator::Options options = Inputs(1, 0);
  options.faults.drop = 1.0;
  SimOnPty pty(options);
  for (int i = 0; i < 3; ++i) pty.Send(ReadRequest(100, 0x10, 2));
  ASSERT_TRUE(pty.Sim().WaitFor([](const Counters& c) { return c.repliesDropped == 3; }, 5s));
  pty.Sim().SetFaults({});
  EXPECT_EQ(Hex(pty.Transact(ReadRequest(100, 0x10, 2), 9)), "64 03 04 00 01 00 00 9E F5 ");
  EXPECT_TRUE(pty.ReadQuiet(200ms).empty());
  EXPECT_TRUE(simtest::Counts(pty.Sim(), [](const Counters& c) { return c.repliesSent == 1u; }));
}

TEST(SimulatorFaults, JunkPrecedesTheIntactReply) {
  Simulator::Options options = Inputs(1, 0);
  options.faults.junk = 1.0;
  SimOnPty pty(options);
  pty.Send(ReadRequest(100, 0x10, 2));
  ASSERT_TRUE(pty.Sim().WaitFor([](const Counters& c) { return c.repliesSent == 1; }, 5s));
  const xcom::ByteString got = pty.ReadQuiet(200ms);
  ASSERT_GE(got.size(), 10u);
  ASSERT_LE(got.size(), 13u);
  EXPECT_EQ(Hex(xcom::ByteString(got.end() - 9, got.end())), "64 03 04 00 01 00 00 9E F5 ");
  EXPECT_TRUE(simtest::Counts(pty.Sim(), [](const Counters& c) { return c.junkBursts == 1u; }));
}

TEST(SimulatorFaults, TheSameSeedDropsTheSameReplies) {
  const auto run = [](std::uint64_t seed) {
    Simulator::Options options = Inputs(1, 0);
    options.faults.drop = 0.5;
    options.faults.seed = seed;
    SimOnPty pty(options);
    std::string pattern;
    std::uint64_t dropped = 0;
    for (int i = 0; i < 12; ++i) {
      pty.Send(ReadRequest(100, 0x10, 2));
      const auto settled = [i](const Counters& c) {
        return c.repliesSent + c.repliesDropped == static_cast<std::uint64_t>(i + 1);
      };
      EXPECT_TRUE(pty.Sim().WaitFor(settled, 5s));
      pattern += pty.Sim().GetCounters().repliesDropped > dropped ? 'D' : 'R';
      dropped = pty.Sim().GetCounters().repliesDropped;
    }
    return pattern;
  };
  const std::string first = run(9);
  EXPECT_EQ(first, run(9));
  EXPECT_NE(first.find('D'), std::string::npos);
  EXPECT_NE(first.find('R'), std::string::npos);
}

}  // namespace
