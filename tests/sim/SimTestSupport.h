#pragma once
// Test helpers for the simulated module.
//
//   SimOnPty pty(options);                 // simulator on a pseudo-terminal master, started
//   pty.Send(WithCrc({0x64, 0x03, 0x00, 0x10, 0x00, 0x02}));
//   xcom::ByteString reply = pty.Read(9);       // waits up to 5 s for 9 bytes, returns what came
//   xcom::ByteString more = pty.ReadQuiet();    // everything until the line stays quiet for 300 ms
//
// The test side opens the slave path like the tool does, in raw mode. Time-outs are generous
// and only bound a wait: nothing asserts that something happened quickly.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "ByteString.h"
#include "HexText.h"
#include "ModbusCrc.h"
#include "PseudoTerminal.h"
#include "PtyPair.h"
#include "Simulator.h"

namespace simtest {

using kestrum_sim::Clock;
using namespace std::chrono_literals;

inline constexpr auto kWait = std::chrono::milliseconds(5000);

// Opens a serial-like path raw and non-blocking, as the tool does.
inline kestrum_sim::UniqueFd OpenRaw(const std::string& path) {
  kestrum_sim::UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) throw std::runtime_error("cannot open " + path);
  termios tio{};
  ::tcgetattr(fd.Get(), &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd.Get(), TCSANOW, &tio);
  return fd;
}

// Writes every byte to a non-blocking descriptor; throws when it cannot within kWait.
inline void WriteAll(int fd, const xcom::ByteString& bytes) {
  if (!ptytest::PtyPair::WriteAll(fd, bytes.data(), bytes.size(), int(kWait.count())))
    throw std::runtime_error("write timed out");
}

// Reads from a non-blocking descriptor until `count` bytes came or `timeout` passed.
inline xcom::ByteString ReadCount(int fd, std::size_t count,
                                  std::chrono::milliseconds timeout = kWait) {
  return ptytest::PtyPair::ReadUpTo(fd, count, int(timeout.count()));
}

// Waits up to `timeout` for the first bytes and returns whatever is there at that moment.
inline xcom::ByteString ReadSome(int fd, std::chrono::milliseconds timeout = kWait) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return {};
  std::uint8_t buffer[256];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  return n > 0 ? xcom::ByteString(buffer, buffer + n) : xcom::ByteString{};
}

// Reads until the line stayed quiet for `quiet`.
inline xcom::ByteString ReadQuiet(int fd, std::chrono::milliseconds quiet = 300ms) {
  xcom::ByteString got;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(quiet.count())) <= 0) return got;
    std::uint8_t buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) got.insert(got.end(), buffer, buffer + n);
    if (n == 0) return got;
  }
}

inline std::string Hex(const xcom::ByteString& bytes) {
  return modbus::BytesToHexText(bytes);
}

// The simulator's counters reach a state (waiting up to 5 s: a reply can be read by the test a
// moment before the simulator's thread has counted it).
inline ::testing::AssertionResult Counts(
    const kestrum_sim::Simulator& sim,
    const std::function<bool(const kestrum_sim::Counters&)>& check) {
  if (sim.WaitFor(check, kWait)) return ::testing::AssertionSuccess();
  const kestrum_sim::Counters c = sim.GetCounters();
  return ::testing::AssertionFailure()
         << "counters: requests " << c.requests << ", replies " << c.repliesSent << ", exceptions "
         << c.exceptionsSent << ", other address " << c.otherAddress << ", broadcasts "
         << c.broadcasts << ", mode " << c.modeFrames << "/" << c.badModeFrames << ", discarded "
         << c.discardedBlocks << ", free text " << c.freeTextBlocks << ", delayed "
         << c.repliesDelayed << ", split " << c.repliesSplit << ", corrupted " << c.repliesCorrupted
         << ", dropped " << c.repliesDropped << ", junk " << c.junkBursts << ", hang-ups "
         << c.hangups;
}

// Request frames as the tool builds them.
inline xcom::ByteString ReadRequest(std::uint8_t address, std::uint16_t start,
                                    std::uint16_t count) {
  return modbus::WithCrc({address, 0x03, static_cast<std::uint8_t>(start >> 8),
                          static_cast<std::uint8_t>(start & 0xFF),
                          static_cast<std::uint8_t>(count >> 8),
                          static_cast<std::uint8_t>(count & 0xFF)});
}
inline xcom::ByteString RelayRequest(std::uint8_t address, std::uint8_t reg, std::uint8_t value) {
  return modbus::WithCrc({address, 0x10, 0x00, reg, 0x00, 0x01, 0x02, 0x00, value});
}
// The standard reply to a two-register read.
inline xcom::ByteString TwoRegisterReply(std::uint8_t address, std::uint16_t first,
                                         std::uint16_t second) {
  return modbus::WithCrc({address, 0x03, 0x04, static_cast<std::uint8_t>(first >> 8),
                          static_cast<std::uint8_t>(first & 0xFF),
                          static_cast<std::uint8_t>(second >> 8),
                          static_cast<std::uint8_t>(second & 0xFF)});
}

// The simulator on the master of a pseudo-terminal, the test on its slave path.
class SimOnPty {
 public:
  explicit SimOnPty(const kestrum_sim::Simulator::Options& options = {})
      : pty_(options.line), sim_(options) {
    port_ = OpenRaw(pty_.SlavePath());
    sim_.Start(pty_.MasterFd());
  }
  ~SimOnPty() { sim_.Stop(); }

  kestrum_sim::Simulator& Sim() { return sim_; }
  int Port() const { return port_.Get(); }
  const std::string& Path() const { return pty_.SlavePath(); }

  void Send(const xcom::ByteString& bytes) { WriteAll(port_.Get(), bytes); }
  xcom::ByteString Read(std::size_t count, std::chrono::milliseconds timeout = kWait) {
    return ReadCount(port_.Get(), count, timeout);
  }
  xcom::ByteString ReadSome() { return simtest::ReadSome(port_.Get()); }
  xcom::ByteString ReadQuiet(std::chrono::milliseconds quiet = 300ms) {
    return simtest::ReadQuiet(port_.Get(), quiet);
  }
  // Sends a request and returns the first `count` bytes that come back.
  xcom::ByteString Transact(const xcom::ByteString& request, std::size_t count) {
    Send(request);
    return Read(count);
  }

 private:
  kestrum_sim::PseudoTerminal pty_;
  kestrum_sim::UniqueFd port_;
  kestrum_sim::Simulator sim_;
};

}  // namespace simtest
