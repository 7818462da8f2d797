#pragma once
// The replies a port's module still owes: a module slower than the time-out answers every
// attempt that timed out, in order, and each such late reply looks just like the reply to the
// next request of the same function (a read of the inputs and a read of the relays differ in
// nothing but their values). This keeps count, so that the master sends nothing new while
// replies are owed, and takes a reply for a late one rather than for an answer when in doubt.
// No I/O: the master tells it what was sent and what came.

#include <chrono>
#include <cstddef>
#include <deque>

namespace kestrum {

class OwedReplies {
 public:
  using Clock = std::chrono::steady_clock;

  explicit OwedReplies(std::chrono::milliseconds timeout) : timeout_(timeout) {}

  void Sent(Clock::time_point at);
  // A reply came: it answers the oldest attempt still owed one.
  void Credit(Clock::time_point at);
  bool AnyOwed() const { return !owed_.empty(); }
  // Until when a late reply may still come: twice the time-out (or twice the slowest reply
  // seen), and at least `atLeast`, after the last request or reply.
  Clock::time_point WaitUntil(Clock::duration atLeast) const;
  // The line stayed quiet until then. Replies still owed may come later than any seen so far,
  // but only from a module that has not answered yet or has answered late: one that answers in
  // time and loses a reply now and then owes nothing more. For a long while, replies that come
  // are then taken for them (TakeForLate) rather than for answers.
  void GiveUp(Clock::time_point at);
  // True when the reply that came at `at` is to count as a late one for an earlier request.
  bool TakeForLate(Clock::time_point at);
  void ShortenTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

 private:
  std::chrono::milliseconds timeout_;
  std::deque<Clock::time_point> owed_;  // when each attempt still owed a reply was sent
  Clock::time_point lastActivity_{};    // the last request sent or reply taken
  Clock::duration slowest_{};           // the longest a reply may have taken so far
  bool answered_ = false;               // a reply was taken
  bool answeredLate_ = false;           // one came after the time-out even of the newest attempt
  std::size_t late_ = 0;                // given up on, still taken for when they come
  Clock::time_point lateUntil_{};
};

}  // namespace kestrum
