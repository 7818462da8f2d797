#include "FaultInjector.h"

namespace kestrum_sim {

FaultInjector::FaultInjector(const FaultOptions& options)
    : options_(options), random_(options.seed) {}

void FaultInjector::SetOptions(const FaultOptions& options) {
  if (options.seed != options_.seed) random_.seed(options.seed);
  options_ = options;
  planned_ = 0;
}

std::optional<std::chrono::milliseconds> FaultInjector::Scheduled() {
  const auto now = std::chrono::steady_clock::now();
  if (planned_ == 0) firstRequest_ = now;
  const std::size_t index = planned_++;
  if (now - firstRequest_ < options_.mute) return std::nullopt;
  if (options_.answerEvery > 1 && (index + 1) % options_.answerEvery != 0) return std::nullopt;
  return index < options_.latency.size() ? options_.latency[index] : options_.delay;
}

bool FaultInjector::Chance(double probability) {
  // Nothing is drawn for a fault that is off or certain.
  if (probability <= 0.0) return false;
  if (probability >= 1.0) return true;
  return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < probability;
}

FaultPlan FaultInjector::Plan(const xcom::ByteString& reply) {
  FaultPlan plan;
  if (reply.empty()) return plan;
  const std::optional<std::chrono::milliseconds> delay = Scheduled();
  if (!delay || Chance(options_.drop)) {
    plan.dropped = true;
    return plan;
  }
  xcom::ByteString bytes = reply;
  if (Chance(options_.corrupt)) {
    const std::size_t byte =
        std::uniform_int_distribution<std::size_t>(0, bytes.size() - 1)(random_);
    const int bit = std::uniform_int_distribution<int>(0, 7)(random_);
    bytes[byte] = static_cast<std::uint8_t>(bytes[byte] ^ (1u << bit));
    plan.corrupted = true;
  }
  if (Chance(options_.junk)) {
    const std::size_t count = std::uniform_int_distribution<std::size_t>(1, 4)(random_);
    xcom::ByteString junk;
    for (std::size_t i = 0; i < count; ++i)
      junk.push_back(
          static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 255)(random_)));
    bytes.insert(bytes.begin(), junk.begin(), junk.end());
    plan.junkBytes = count;
  }
  plan.delayed = delay->count() > 0;
  const auto start = *delay;
  if (options_.split.count() > 0 && bytes.size() >= 2) {
    const std::size_t cut =
        std::uniform_int_distribution<std::size_t>(1, bytes.size() - 1)(random_);
    plan.chunks.push_back(
        {start, xcom::ByteString(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut))});
    plan.chunks.push_back(
        {start + options_.split,
         xcom::ByteString(bytes.begin() + static_cast<std::ptrdiff_t>(cut), bytes.end())});
    plan.split = true;
  } else {
    plan.chunks.push_back({start, std::move(bytes)});
  }
  return plan;
}

}  // namespace kestrum_sim
