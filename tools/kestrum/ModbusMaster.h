#pragma once
// Request and reply on one port: sends a request, waits for its reply, asks again for a
// missing or corrupt one up to the retry count, and tells a normal reply from an exception.
// Which request a reply answers is the protocol's rule (ReplyLedger.h): a reply in doubt gives
// no value, and after any doubt the master waits for a quiet line before it asks anything new.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "ByteString.h"
#include "ReplyAwaiter.h"
#include "ReplyLedger.h"
#include "Reporter.h"
#include "XComDrv.h"

namespace kestrum {

struct Exchange {
  enum class Status {
    Reply,        // `reply` holds the module's normal reply
    Exception,    // the module answered with exception `exceptionCode`
    NoReply,      // no valid reply after every attempt
    OutOfStep,    // a reply that may answer an earlier request, or no quiet line in time
    Interrupted,  // stopped by Ctrl-C
    DeviceLost,   // the device went away (adapter pulled, line hung up)
  };
  Status status = Status::NoReply;
  xcom::ByteString reply;
  std::uint8_t exceptionCode = 0;
  unsigned attempts = 0;
  unsigned corruptReplies = 0;  // replies whose CRC did not match
  unsigned noiseBlocks = 0;     // blocks of bytes that framed no reply at all
  unsigned lateReplies = 0;     // replies that answered no request owed one
  double roundTripMs = 0;       // from the first send to the reply
  std::string error;            // for everything but Reply, in words
};

struct LinkTiming {
  std::chrono::milliseconds timeout{500};  // per reply
  unsigned retries = 2;
  std::chrono::microseconds silence{4000};    // end of a frame
  std::chrono::microseconds character{1042};  // the time one character takes on the line
};

class ModbusMaster {
  static inline const std::atomic<bool> kNeverStopped{false};

 public:
  using Clock = std::chrono::steady_clock;

  ModbusMaster(xcom::TCustomComm& port, std::string portName, LinkTiming timing,
               const std::atomic<bool>& stop, Reporter& reporter);

  // Starts the exchanges of one result (a read of several blocks, a relay switched): nothing of
  // it, its re-reads included, waits past (attempts + 2) time-outs from now, however many
  // blocks it reads.
  void BeginRun();
  bool PastDeadline() const { return Clock::now() >= deadline_; }
  // True when the run's replies can be trusted: nothing in it or before it was in doubt (a
  // missing, corrupt, unasked or doubtful reply), or else the line stayed quiet after its last
  // reply for the quiet span, every late reply answering a request still owed one (none was on
  // its way to be taken for another). Waits for that.
  bool ConfirmRun();

  Exchange Transact(const xcom::ByteString& request);
  // Sends a frame that gets no Modbus reply (a mode frame), from a quiet line. False when it
  // could not be written within the time-out.
  bool Send(const xcom::ByteString& frame);
  // A frame sent once, after the first attempt that got no answer at all, before the next: the
  // control-mode frame, for a module left in data-centre mode answers nothing.
  void SetWakeFrame(xcom::ByteString frame) { wakeFrame_ = std::move(frame); }
  // Lets the replies still owed arrive and go before the port is closed: the next program on
  // the port knows nothing of them. A request without a reply is given this long at least
  // (its last attempt's time-out counts), for a module may answer later than the time-out.
  static constexpr std::chrono::milliseconds kSettleBeforeClose{500};
  void SettleBeforeClose();
  bool DeviceLost() const { return port_.DeviceLost(); }
  bool Stopped() const { return *stop_; }
  // For putting things back after a stop: exchanges go on regardless of it, each with at most
  // one retry and one second per reply, so that what is put back cannot hold the port for long.
  void IgnoreStop();

 private:
  // A run's bound: its attempts, a quiet line before them and one wait for a late reply.
  std::chrono::milliseconds RunTime() const { return (timing_.retries + 1 + 2) * timing_.timeout; }
  bool SendAttempt(const xcom::ByteString& frame);
  // Waits until every request owed is answered or given up on a quiet line. False when the run's
  // deadline comes first, or a stop, or the device went away.
  bool AwaitQuiet(Clock::duration atLeast = {});
  // Bytes taken outside an exchange: replies answer what the ledger says, nothing is shown. True
  // when a reply answered no request still owed one, or several.
  bool Hear(const xcom::ByteString& bytes);
  void Wake();

  xcom::TCustomComm& port_;
  const std::string portName_;
  LinkTiming timing_;
  const std::atomic<bool>* stop_;
  Reporter& reporter_;
  modbus::ReplyLedger ledger_;
  ReplyAwaiter reader_;
  bool inStep_ = true;  // nothing since the last quiet line suggested a reply late or missing
  bool unexpectedInRun_ = false;  // a reply that answered nothing owed came during the run
  bool attemptedInRun_ = false;   // the run's first attempt is made, whatever its deadline
  Clock::time_point deadline_ = Clock::time_point::max();
  xcom::ByteString wakeFrame_;
  bool putsBackAfterStop_ = false;  // IgnoreStop was called
};

// "exception 02 (illegal data address)" and so on.
std::string ExceptionText(std::uint8_t code);

}  // namespace kestrum
