#pragma once
// Request and reply on one port: sends a request, waits for its reply, asks again for a
// missing or corrupt one up to the retry count, and tells a normal reply from an exception.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "ByteString.h"
#include "OwedReplies.h"
#include "ReplyAwaiter.h"
#include "Reporter.h"
#include "XComDrv.h"

namespace kestrum {

struct Exchange {
  enum class Status {
    Reply,        // `reply` holds the module's normal reply
    Exception,    // the module answered with exception `exceptionCode`
    NoReply,      // no valid reply after every attempt
    Interrupted,  // stopped by Ctrl-C
    DeviceLost,   // the device went away (adapter pulled, line hung up)
  };
  Status status = Status::NoReply;
  xcom::ByteString reply;
  std::uint8_t exceptionCode = 0;
  unsigned attempts = 0;
  unsigned corruptReplies = 0;  // replies whose CRC did not match
  unsigned noiseBlocks = 0;     // blocks of bytes that framed no reply at all
  unsigned lateReplies = 0;     // replies dropped as possibly late for earlier requests
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
  ModbusMaster(xcom::TCustomComm& port, std::string portName, LinkTiming timing,
               const std::atomic<bool>& stop, Reporter& reporter);

  Exchange Transact(const xcom::ByteString& request);
  // Sends a frame that gets no Modbus reply (a mode frame). False when it could not be written
  // within the time-out.
  bool Send(const xcom::ByteString& frame);
  // Sends a frame that gets no Modbus reply and lets it be taken in before anything follows: it
  // waits for the frame to go out, the end-of-frame silence and a margin, and drops whatever
  // comes meanwhile (a module that echoes mode frames). A frame that could not be written shows
  // in the exchange that follows.
  void SendAndLetSettle(const xcom::ByteString& frame);
  // Lets the replies still owed to attempts that timed out arrive and go: see SettleLine.
  // Before the port is closed the line is given at least 2 s since the last request, for the
  // next program on the port knows nothing of what is owed: a module that never answered
  // costs that much more; one that did has shown how late its replies come.
  void SettleBeforeClose();
  bool DeviceLost() const { return port_.DeviceLost(); }
  bool Stopped() const { return *stop_; }
  // For putting things back after a stop: exchanges go on regardless of it, each with at most
  // one retry and one second per reply, so that what is put back cannot hold the port for long.
  void IgnoreStop();

 private:
  using Clock = std::chrono::steady_clock;
  bool SendAttempt(const xcom::ByteString& request);
  // Waits while replies are owed, until OwedReplies::WaitUntil(atLeast).
  void SettleLine(Clock::duration atLeast = {});

  xcom::TCustomComm& port_;
  const std::string portName_;
  LinkTiming timing_;
  const std::atomic<bool>* stop_;
  Reporter& reporter_;
  OwedReplies owed_;
  ReplyAwaiter reader_;
  bool putsBackAfterStop_ = false;  // IgnoreStop was called
};

// "exception 02 (illegal data address)" and so on.
std::string ExceptionText(std::uint8_t code);

}  // namespace kestrum
