#include "OwedReplies.h"

#include <algorithm>

namespace kestrum {

void OwedReplies::Sent(Clock::time_point at) {
  owed_.push_back(at);
  lastActivity_ = at;
}

void OwedReplies::Credit(Clock::time_point at) {
  if (!owed_.empty()) {
    // At most this late (if it answers the oldest attempt), at least that (the newest).
    slowest_ = std::max(slowest_, at - owed_.front());
    answeredLate_ = answeredLate_ || at - owed_.back() > timeout_;
    owed_.pop_front();
  }
  answered_ = true;
  lastActivity_ = at;
}

OwedReplies::Clock::time_point OwedReplies::WaitUntil(Clock::duration atLeast) const {
  return lastActivity_ + std::max({atLeast, Clock::duration(2 * timeout_), 2 * slowest_});
}

void OwedReplies::GiveUp(Clock::time_point at) {
  if (!owed_.empty() && (!answered_ || answeredLate_)) {
    late_ += owed_.size();
    lateUntil_ = at + std::max<Clock::duration>(std::chrono::seconds(10), 10 * timeout_);
  }
  owed_.clear();
}

bool OwedReplies::TakeForLate(Clock::time_point at) {
  if (late_ > 0 && at > lateUntil_) late_ = 0;  // long enough: they were lost, not late
  if (late_ == 0) return false;
  --late_;
  lastActivity_ = at;
  return true;
}

}  // namespace kestrum
