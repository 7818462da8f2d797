#pragma once
// The simulated module at work on one end of a serial line, in a background thread.
//
// This is the API for running the module inside another program or a test:
//
//   kestrum_sim::Simulator::Options options;        // address 100, inputs 0,0, 9600 8N1
//   options.module.inputs = {1, 0};
//   kestrum_sim::PseudoTerminal pty(options.line);  // openpty, slave raw (PseudoTerminal.h)
//   kestrum_sim::Simulator sim(options);
//   sim.Start(pty.MasterFd());                      // or any other descriptor of a line
//   ... the code under test opens pty.SlavePath() and talks to the module ...
//   sim.WaitFor([](const auto& c) { return c.repliesSent >= 2; }, std::chrono::seconds(5));
//   sim.SetInput(2, 1);                             // DI2 on, from any thread
//   sim.Stop();                                     // also done by the destructor
//
// The descriptor is borrowed: it must stay open until Stop() returns, and Start() switches it
// to non-blocking mode. Start() does not touch the line's termios settings; for a pty pair make
// the slave raw first (PseudoTerminal.h and ConfigureLine in LineSetup.h do this). Every public
// member may be called from any thread at any time; the log sink is called on the line thread,
// and the log lines of an event are delivered before the counters show that event.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "FaultInjector.h"
#include "LineSettings.h"
#include "PseudoTerminal.h"
#include "RequestFramer.h"
#include "SimulatedModule.h"

namespace kestrum_sim {

struct Counters {
  std::uint64_t bytesReceived = 0;
  std::uint64_t requests = 0;         // Modbus frames with a valid CRC, any address
  std::uint64_t repliesSent = 0;      // replies written completely (normal, exception, echo)
  std::uint64_t exceptionsSent = 0;   // exception replies among them
  std::uint64_t otherAddress = 0;     // valid frames for another slave, not answered
  std::uint64_t broadcasts = 0;       // frames for address 0, acted on and not answered
  std::uint64_t modeFrames = 0;       // valid mode frames
  std::uint64_t badModeFrames = 0;    // mode frames with a wrong check sum or mode number
  std::uint64_t discardedBlocks = 0;  // garbage, bad CRC, partial frames (control mode)
  std::uint64_t discardedBytes = 0;
  std::uint64_t freeTextBlocks = 0;  // blocks reported as free text (data-centre mode)
  std::uint64_t repliesDelayed = 0;  // faults injected
  std::uint64_t repliesSplit = 0;
  std::uint64_t repliesCorrupted = 0;
  std::uint64_t repliesDropped = 0;
  std::uint64_t junkBursts = 0;
  std::uint64_t hangups = 0;  // times the other end went away
  bool operator==(const Counters&) const = default;
};

// The module's registers and mode at one moment.
struct ModuleState {
  std::uint8_t address = kDefaultAddress;
  std::array<std::uint16_t, kInputCount> inputs{};
  std::array<std::uint16_t, kRelayCount> relays{};
  DeviceMode mode = DeviceMode::Control;
};

struct LogEntry {
  enum class Level {
    Traffic,  // every request, reply, discarded block and injected fault (--verbose)
    Event,    // mode switches, free text, line trouble: always shown
  };
  std::chrono::system_clock::time_point time;
  Level level = Level::Traffic;
  std::string text;  // e.g. "RX 64 03 00 10 00 02 CC 3B  read registers 0x0010..0x0011"
};
using LogSink = std::function<void(const LogEntry&)>;

// "HH:MM:SS.mmm text" in local time.
std::string FormatLogEntry(const LogEntry& entry);

class Simulator {
 public:
  struct Options {
    ModuleConfig module;
    LineSettings line;
    FaultOptions faults;
    // Silence that ends a frame; default SilenceFor(line).
    std::optional<std::chrono::microseconds> silence;
  };

  explicit Simulator(const Options& options = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Starts serving on `fd` (borrowed). Throws std::logic_error when already started once, and
  // std::system_error when the thread's wake-up pipe cannot be made.
  void Start(int fd);
  // Stops the line thread and waits for it; replies not yet written are dropped. Idempotent.
  void Stop();
  // False before Start, after Stop, and after the line thread ended on an error.
  bool Running() const;
  // Why the line thread ended by itself; empty otherwise.
  std::string LastError() const;

  void SetLogSink(LogSink sink);
  // Input channel 1 or 2 (DI1, DI2) = register 0x0010 or 0x0011; false for another channel.
  bool SetInput(int channel, std::uint16_t value);
  // Changes the faults while running; the generator restarts only when the seed changes.
  void SetFaults(const FaultOptions& faults);

  ModuleState State() const;
  Counters GetCounters() const;
  std::chrono::microseconds Silence() const { return silence_; }

  // Waits until `condition` holds for the counters or `timeout` passed; returns the last result.
  bool WaitFor(const std::function<bool(const Counters&)>& condition,
               std::chrono::milliseconds timeout) const;

 private:
  class Line;
  void Run(int fd, int wakeFd);
  void Fail(const std::string& message, std::vector<LogEntry>& entries);
  // Hands the log lines to the sink, then makes the counters visible and wakes WaitFor.
  void Publish(std::vector<LogEntry>& entries);

  const std::chrono::microseconds silence_;
  mutable std::mutex mutex_;  // guards everything below except the thread handles
  mutable std::condition_variable changed_;
  SimulatedModule module_;
  FaultInjector faults_;
  Counters counters_;   // as the line thread counts
  Counters published_;  // as GetCounters and WaitFor see them, after the log lines
  LogSink sink_;
  bool running_ = false;
  std::string lastError_;

  std::mutex control_;  // serialises Start and Stop
  bool started_ = false;
  UniqueFd wakeRead_;
  UniqueFd wakeWrite_;
  std::thread thread_;
};

}  // namespace kestrum_sim
