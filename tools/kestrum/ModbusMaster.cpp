#include "ModbusMaster.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "ReplyFraming.h"

using namespace modbus;  // the protocol layer

namespace kestrum {
namespace {

std::string NoReplyText(std::uint8_t address, const Exchange& exchange, unsigned timeoutMs,
                        unsigned runMs) {
  if (exchange.attempts == 0)
    return "no valid reply from address " + std::to_string(address) +
           " within the time allowed for the run (" + std::to_string(runMs) + " ms)";
  std::string text = "no valid reply from address " + std::to_string(address) + " after " +
                     std::to_string(exchange.attempts) +
                     (exchange.attempts == 1 ? " attempt" : " attempts") + " (" +
                     std::to_string(timeoutMs) + " ms each)";
  if (exchange.corruptReplies > 0)
    text += ", " + std::to_string(exchange.corruptReplies) +
            (exchange.corruptReplies == 1 ? " reply" : " replies") + " with a CRC error";
  if (exchange.lateReplies > 0)
    text += ", " + std::to_string(exchange.lateReplies) +
            (exchange.lateReplies == 1 ? " reply" : " replies") + " to no request still owed one";
  if (exchange.noiseBlocks > 0)
    text += ", " + std::to_string(exchange.noiseBlocks) +
            (exchange.noiseBlocks == 1 ? " block" : " blocks") + " of stray bytes";
  return text;
}

// An exchange ended before its reply.
Exchange Ended(Exchange exchange, Exchange::Status status, std::string error) {
  exchange.status = status;
  exchange.error = std::move(error);
  return exchange;
}

}  // namespace

std::string ExceptionText(std::uint8_t code) {
  char number[8];
  std::snprintf(number, sizeof number, "%02X", code);
  return std::string("exception ") + number + " (" + ExceptionCodeText(code) + ")";
}

ModbusMaster::ModbusMaster(xcom::TCustomComm& port, std::string portName, LinkTiming timing,
                           const std::atomic<bool>& stop, Reporter& reporter)
    : port_(port),
      portName_(std::move(portName)),
      timing_(timing),
      stop_(&stop),
      reporter_(reporter),
      ledger_(timing.timeout),
      reader_(port, timing.silence, stop,
              [this](const xcom::ByteString& block) { reporter_.Frame(portName_, false, block); }) {
}

void ModbusMaster::BeginRun() {
  unexpectedInRun_ = false;
  attemptedInRun_ = false;
  deadline_ = Clock::now() + RunTime();
}

bool ModbusMaster::Hear(const xcom::ByteString& bytes) {
  bool unexpected = false;
  for (const RtuPiece& piece : SplitRtuBlock(bytes, {})) {
    if (piece.kind != RtuPiece::Kind::Reply) {
      ledger_.Heard(Clock::now());
      continue;
    }
    // A late reply to a request still owed one is accounted for; any other is a sign that the
    // replies are out of step with the requests. Nothing of either is shown.
    if (ledger_.Take(piece.bytes, Clock::now()).verdict != ReplyLedger::Verdict::Answers)
      unexpected = true;
  }
  if (unexpected) inStep_ = false;
  unexpectedInRun_ = unexpectedInRun_ || unexpected;
  return unexpected;
}

bool ModbusMaster::AwaitQuiet(Clock::duration atLeast) {
  for (;;) {
    const bool owed = ledger_.Owes();
    if (ledger_.GiveUpIfQuiet(Clock::now(), atLeast)) {
      if (owed) inStep_ = false;  // given up: a reply may yet come
      return true;
    }
    if (Clock::now() >= deadline_ || *stop_ || port_.DeviceLost()) return false;
    Hear(reader_.TakeBlock(std::min(ledger_.QuietAt(atLeast), deadline_)));
  }
}

bool ModbusMaster::ConfirmRun() {
  // A reply that answered nothing owed came during the run: one of its replies may be another's.
  if (std::exchange(unexpectedInRun_, false)) return false;
  if (inStep_) return true;
  for (;;) {
    const Clock::time_point until = ledger_.QuietAt();
    if (Clock::now() >= until && ledger_.GiveUpIfQuiet(Clock::now())) break;
    if (Clock::now() >= deadline_ || *stop_ || port_.DeviceLost()) return false;
    // A reply now was late for a request of the run, which may have taken another's.
    if (Hear(reader_.TakeBlock(std::min(until, deadline_)))) return false;
  }
  inStep_ = true;
  return true;
}

void ModbusMaster::SettleBeforeClose() {
  // Not after a stop: the port is to be let go soon, and nothing more was asked since. The
  // replies owed now are waited for even past the run's bound (one quiet span at most): the
  // next program on the port would take one for the answer to its own request.
  if (putsBackAfterStop_) return;
  deadline_ = std::max(deadline_, ledger_.QuietAt(kSettleBeforeClose));
  AwaitQuiet(kSettleBeforeClose);
}

void ModbusMaster::IgnoreStop() {
  stop_ = &kNeverStopped;
  putsBackAfterStop_ = true;
  reader_.IgnoreStop();
  timing_.retries = std::min(timing_.retries, 1u);
  timing_.timeout = std::min(timing_.timeout, std::chrono::milliseconds(1000));
}

bool ModbusMaster::SendAttempt(const xcom::ByteString& frame) {
  Hear(reader_.Discard());  // what waits now came late: it must not answer this frame
  const bool sent = port_.SendString(frame);
  if (sent) reporter_.Frame(portName_, true, frame);  // the trace shows what left, and only that
  return sent;
}

bool ModbusMaster::Send(const xcom::ByteString& frame) {
  AwaitQuiet();
  return SendAttempt(frame);
}

void ModbusMaster::Wake() {
  const xcom::ByteString frame = std::exchange(wakeFrame_, {});
  if (frame.empty() || !SendAttempt(frame)) return;
  // No fixed margin: the frame's own time on the line and the silence that ends it.
  const auto until =
      Clock::now() + static_cast<long>(frame.size()) * timing_.character + timing_.silence;
  Hear(reader_.TakeBlock(until));  // a module that echoes mode frames
}

Exchange ModbusMaster::Transact(const xcom::ByteString& request) {
  Exchange exchange;
  if (*stop_) return Ended(exchange, Exchange::Status::Interrupted, "interrupted");
  if (!AwaitQuiet()) {
    if (port_.DeviceLost()) return Ended(exchange, Exchange::Status::DeviceLost, "device lost");
    if (*stop_) return Ended(exchange, Exchange::Status::Interrupted, "interrupted");
    return Ended(exchange, Exchange::Status::OutOfStep,
                 "replies out of step: the line did not fall quiet within the time allowed");
  }
  const auto start = Clock::now();
  while (exchange.attempts <= timing_.retries) {
    if (*stop_) return Ended(exchange, Exchange::Status::Interrupted, "interrupted");
    // Bounded: no attempt but the run's first starts that could end past the run's deadline.
    if (attemptedInRun_ && Clock::now() + timing_.timeout > deadline_) break;
    attemptedInRun_ = true;
    ++exchange.attempts;
    const bool sent = SendAttempt(request);
    // A device that is gone fails every transfer at once: retrying would only spin.
    if (port_.DeviceLost()) return Ended(exchange, Exchange::Status::DeviceLost, "device lost");
    inStep_ = inStep_ && sent;
    if (!sent) continue;  // not written within the time-out: as good as no reply
    ledger_.Sent(request, Clock::now());
    const ReplyWait wait = reader_.Await(request, timing_.timeout);
    if (wait.status == ReplyWait::Status::Interrupted)
      return Ended(exchange, Exchange::Status::Interrupted, "interrupted");
    if (wait.status == ReplyWait::Status::DeviceLost)
      return Ended(exchange, Exchange::Status::DeviceLost, "device lost");
    if (wait.status != ReplyWait::Status::Reply) {
      inStep_ = false;
      if (wait.status == ReplyWait::Status::Noise) {
        ++exchange.noiseBlocks;
        ledger_.Heard(Clock::now());
      }
      if (wait.status == ReplyWait::Status::Corrupt) {
        ++exchange.corruptReplies;
        ledger_.TakeDamaged(Clock::now());
      }
      if (wait.status == ReplyWait::Status::Timeout) Wake();
      continue;
    }
    const ReplyLedger::Attribution attribution = ledger_.Take(wait.frame, Clock::now());
    Hear(wait.after);  // more replies behind it: late ones, or a sign of replies out of step
    if (attribution.verdict == ReplyLedger::Verdict::InDoubt) {
      inStep_ = false;
      return Ended(exchange, Exchange::Status::OutOfStep,
                   "replies out of step: a reply may answer an earlier request");
    }
    if (attribution.verdict == ReplyLedger::Verdict::Unasked) {
      inStep_ = false;
      ++exchange.lateReplies;
      continue;
    }
    exchange.roundTripMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    exchange.reply = wait.frame;
    if (IsExceptionFunction(wait.frame[1])) {
      exchange.status = Exchange::Status::Exception;
      exchange.exceptionCode = wait.frame[2];
      exchange.error = "the module answered " + ExceptionText(wait.frame[2]);
    } else {
      exchange.status = Exchange::Status::Reply;
    }
    return exchange;
  }
  exchange.status = Exchange::Status::NoReply;
  exchange.error =
      NoReplyText(request.at(0), exchange, static_cast<unsigned>(timing_.timeout.count()),
                  static_cast<unsigned>(RunTime().count()));
  return exchange;
}

}  // namespace kestrum
