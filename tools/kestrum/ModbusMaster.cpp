#include "ModbusMaster.h"

#include <algorithm>
#include <cstdio>

#include "ReplyFraming.h"

using namespace modbus;  // the protocol layer

namespace kestrum {
namespace {

using Clock = std::chrono::steady_clock;

std::string NoReplyText(std::uint8_t address, const Exchange& exchange, unsigned timeoutMs) {
  std::string text = "no valid reply from address " + std::to_string(address) + " after " +
                     std::to_string(exchange.attempts) +
                     (exchange.attempts == 1 ? " attempt" : " attempts") + " (" +
                     std::to_string(timeoutMs) + " ms each)";
  if (exchange.corruptReplies > 0)
    text += ", " + std::to_string(exchange.corruptReplies) +
            (exchange.corruptReplies == 1 ? " reply" : " replies") + " with a CRC error";
  if (exchange.lateReplies > 0)
    text += ", " + std::to_string(exchange.lateReplies) +
            (exchange.lateReplies == 1 ? " reply" : " replies") +
            " dropped as possibly late for earlier requests";
  if (exchange.noiseBlocks > 0)
    text += ", " + std::to_string(exchange.noiseBlocks) +
            (exchange.noiseBlocks == 1 ? " block" : " blocks") + " of stray bytes";
  return text;
}

// An exchange ended before its reply by a stop or by the device going away.
Exchange Ended(Exchange exchange, Exchange::Status status) {
  exchange.status = status;
  exchange.error = status == Exchange::Status::DeviceLost ? "device lost" : "interrupted";
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
      owed_(timing.timeout),
      reader_(port, timing.silence, stop,
              [this](const xcom::ByteString& block) { reporter_.Frame(portName_, false, block); }) {
}

void ModbusMaster::SettleBeforeClose() {
  // Not after a stop: the port is to be let go soon, and nothing more was asked since.
  SettleLine(putsBackAfterStop_ ? Clock::duration{} : std::chrono::seconds(2));
}

// Nothing new is sent while replies are owed (see OwedReplies): they are awaited, and dropped,
// until the line has stayed quiet long enough.
void ModbusMaster::SettleLine(Clock::duration atLeast) {
  while (owed_.AnyOwed() && reader_.AwaitAnyReply(owed_.WaitUntil(atLeast)))
    owed_.Credit(Clock::now());
  owed_.GiveUp(Clock::now());
  reader_.Discard();
}

void ModbusMaster::IgnoreStop() {
  stop_ = &kNeverStopped;
  putsBackAfterStop_ = true;
  reader_.IgnoreStop();
  timing_.retries = std::min(timing_.retries, 1u);
  timing_.timeout = std::min(timing_.timeout, std::chrono::milliseconds(1000));
  owed_.ShortenTimeout(timing_.timeout);
}

bool ModbusMaster::SendAttempt(const xcom::ByteString& frame) {
  reader_.Discard();
  const bool sent = port_.SendString(frame);
  if (sent) reporter_.Frame(portName_, true, frame);  // the trace shows what left, and only that
  return sent;
}

bool ModbusMaster::Send(const xcom::ByteString& frame) {
  SettleLine();
  return SendAttempt(frame);
}

void ModbusMaster::SendAndLetSettle(const xcom::ByteString& frame) {
  if (!Send(frame)) return;
  // A USB adapter may hold the bytes a few milliseconds before they leave.
  constexpr auto kMargin = std::chrono::milliseconds(20);
  const auto until = Clock::now() + static_cast<long>(frame.size()) * timing_.character +
                     timing_.silence + kMargin;
  while (reader_.AwaitAnyReply(until)) {
  }
}

Exchange ModbusMaster::Transact(const xcom::ByteString& request) {
  Exchange exchange;
  SettleLine();
  const auto start = Clock::now();
  while (exchange.attempts <= timing_.retries) {
    if (*stop_) return Ended(exchange, Exchange::Status::Interrupted);  // nothing new after a stop
    ++exchange.attempts;
    // Every attempt asks the same, so a late reply to an earlier one answers this one too.
    const bool sent = SendAttempt(request);
    // A device that is gone fails every transfer at once: retrying would only spin.
    if (port_.DeviceLost()) return Ended(exchange, Exchange::Status::DeviceLost);
    if (!sent) continue;  // not written within the time-out: as good as no reply
    owed_.Sent(Clock::now());
    const ReplyWait wait = reader_.Await(request, timing_.timeout);
    if (wait.status == ReplyWait::Status::Interrupted)
      return Ended(exchange, Exchange::Status::Interrupted);
    if (wait.status == ReplyWait::Status::DeviceLost)
      return Ended(exchange, Exchange::Status::DeviceLost);
    if (wait.status == ReplyWait::Status::Noise) ++exchange.noiseBlocks;
    if (wait.status == ReplyWait::Status::Corrupt) {
      ++exchange.corruptReplies;
      owed_.Credit(Clock::now());  // a reply all the same: it is owed no more
    }
    if (wait.status != ReplyWait::Status::Reply) continue;
    // Possibly the late reply to an earlier request: dropped, and this request asked again.
    if (owed_.TakeForLate(Clock::now())) {
      ++exchange.lateReplies;
      continue;
    }
    owed_.Credit(Clock::now());
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
      NoReplyText(request.at(0), exchange, static_cast<unsigned>(timing_.timeout.count()));
  return exchange;
}

}  // namespace kestrum
