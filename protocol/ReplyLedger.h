#pragma once
// Which request a reply answers: the one rule of every master in the tool (the window and
// kestrum). What it rests on:
//  - a Modbus slave answers one request at a time, in the order the requests came;
//  - it may drop a request (no reply ever) or answer it arbitrarily late;
//  - two replies to reads of the same size cannot be told apart by their bytes.
// So a reply may answer any request still owed one whose reply it could be (same slave and
// function, same size, a write's echo of the same registers). If all such requests ask the
// same (one request sent again), the reply answers it; otherwise it is in doubt and shows
// nothing. The ledger never forgets a request that may still be answered: after a reply it
// keeps every request after the first one that reply may answer. It gives requests up only
// when the line has stayed quiet for the quiet span, the one assumption a master must make:
// the slowest reply seen, and at least the span it is given.

#include <chrono>
#include <cstddef>
#include <deque>
#include <limits>

#include "ByteString.h"

namespace modbus {

class ReplyLedger {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::size_t kAnySent = std::numeric_limits<std::size_t>::max();

  enum class Verdict {
    Answers,  // the reply answers `request`: its values may be shown
    InDoubt,  // it may answer requests that ask different things: nothing is shown
    Unasked,  // it answers nothing owed (another slave, a request given up, a stray copy)
  };
  struct Attribution {
    Verdict verdict = Verdict::Unasked;
    xcom::ByteString request;  // Answers: the request it answers
  };

  explicit ReplyLedger(Clock::duration quietAtLeast) : quietAtLeast_(quietAtLeast) {}

  // A request left whole and is owed a reply (not for a broadcast or a frame that is no request).
  void Sent(const xcom::ByteString& request, Clock::time_point at);
  // A whole reply frame with a valid CRC came at `at`. `sentBefore`: how many requests had been
  // sent (Sends()) when its first byte came; the later ones cannot be answered by it.
  Attribution Take(const xcom::ByteString& reply, Clock::time_point at,
                   std::size_t sentBefore = kAnySent);
  // Bytes came that are no whole reply: the line is not quiet.
  void Heard(Clock::time_point at) { lastHeard_ = at; }
  // A damaged reply came: it answers the first request owed one, or a later one.
  void TakeDamaged(Clock::time_point at);

  std::size_t Sends() const { return sends_; }
  bool Owes() const { return !owed_.empty(); }
  // When every request owed now is given up if nothing is heard until then. `atLeast` makes
  // the quiet span longer for once (before a port is let go).
  Clock::time_point QuietAt(Clock::duration atLeast = {}) const;
  // Gives up the requests sent a quiet span or more before `now`, when nothing was heard for as
  // long. True when nothing is owed any more.
  bool GiveUpIfQuiet(Clock::time_point now, Clock::duration atLeast = {});
  Clock::duration QuietSpan(Clock::duration atLeast = {}) const;
  // The port was opened: nothing sent before is owed.
  void Reset();

 private:
  struct Owed {
    xcom::ByteString request;
    Clock::time_point sent;
    std::size_t number;  // counted from 0 since the reset
  };
  Clock::duration quietAtLeast_;
  std::deque<Owed> owed_;
  std::size_t sends_ = 0;
  Clock::duration slowest_{};  // the longest a reply may have taken so far
  Clock::time_point lastHeard_{};
};

// True when `reply` has the shape of a reply to `request`: the slave and function asked (or its
// exception), a read's size, a write's echo of the registers written.
bool MayAnswer(const xcom::ByteString& reply, const xcom::ByteString& request);

}  // namespace modbus
