#pragma once
// Line faults for tests and demos, each off by default, all drawn from one seeded generator so
// that a run with the same seed and the same requests injects the same faults.
//
//   delay   wait this long before every reply
//   split   send every reply in two parts (cut at a random byte) with this gap between them
//   corrupt flip one random bit of a fraction of the replies
//   drop    leave out a fraction of the replies
//   junk    send 1 to 4 random stray bytes before a fraction of the replies
// and a latency schedule, for a module whose replies come late or not at all:
//   latency      the delay of each reply in turn (a spike is one long entry); `delay` after
//   answerEvery  answer only every Nth request
//   mute         answer nothing until this long after the first request (a module switched on
//                late)
// Replies leave in the order their requests came, whatever their delays.
//
// Not thread-safe: the Simulator calls it from its line thread only.

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "ByteString.h"

namespace kestrum_sim {

struct FaultOptions {
  std::chrono::milliseconds delay{0};
  std::chrono::milliseconds split{0};
  double corrupt = 0.0;  // fractions 0..1
  double drop = 0.0;
  double junk = 0.0;
  std::uint64_t seed = 1;
  std::vector<std::chrono::milliseconds> latency;
  unsigned answerEvery = 1;
  std::chrono::milliseconds mute{0};
  bool operator==(const FaultOptions&) const = default;
};

// One piece of output: bytes to write once `after` has passed since the reply was made.
struct TimedChunk {
  std::chrono::milliseconds after{0};
  xcom::ByteString bytes;
};

// What the injector did to one reply.
struct FaultPlan {
  std::vector<TimedChunk> chunks;  // empty when the reply was dropped
  bool dropped = false;
  bool corrupted = false;
  bool split = false;
  bool delayed = false;
  std::size_t junkBytes = 0;
};

class FaultInjector {
 public:
  explicit FaultInjector(const FaultOptions& options = {});

  // Replaces the options; the generator restarts from the new seed only when the seed changed,
  // and the latency schedule from its start.
  void SetOptions(const FaultOptions& options);
  const FaultOptions& Options() const { return options_; }

  // Decides the fate of one reply.
  FaultPlan Plan(const xcom::ByteString& reply);

 private:
  bool Chance(double probability);
  // The schedule's verdict on the next reply: its delay, or none when it is not sent.
  std::optional<std::chrono::milliseconds> Scheduled();

  FaultOptions options_;
  std::mt19937_64 random_;
  std::size_t planned_ = 0;  // replies planned since the schedule started
  std::chrono::steady_clock::time_point firstRequest_{};
};

}  // namespace kestrum_sim
