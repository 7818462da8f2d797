#include "ReplyLedger.h"

#include <algorithm>

#include "RtuFrameLength.h"

namespace modbus {

namespace {

std::size_t ReadReplySize(const xcom::ByteString& request) {
  const std::size_t count = static_cast<std::size_t>(request[4] << 8 | request[5]);
  return request[1] <= 0x02 ? 5 + (count + 7) / 8 : 5 + 2 * count;
}

}  // namespace

bool MayAnswer(const xcom::ByteString& reply, const xcom::ByteString& request) {
  if (reply.size() < 5 || request.size() < 6 || reply[0] != request[0]) return false;
  if (reply[1] == (request[1] | kExceptionFlag)) return reply.size() == 5;
  if (reply[1] != request[1]) return false;
  switch (request[1]) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
      // By its byte count: a reply longer than that count says is only ever split off whole
      // when its CRC holds over all of it, and it is the module's reply as it stands.
      return std::size_t{reply[2]} + 5 == ReadReplySize(request) &&
             reply.size() >= ReadReplySize(request);
    case 0x05:
    case 0x06:
    case 0x0F:
    case 0x10:  // the echo of the address, start register and count (or value)
      return reply.size() == 8 &&
             std::equal(request.begin() + 2, request.begin() + 6, reply.begin() + 2);
    default:
      return true;
  }
}

void ReplyLedger::Sent(const xcom::ByteString& request, Clock::time_point at) {
  owed_.push_back({request, at, sends_++});
}

ReplyLedger::Attribution ReplyLedger::Take(const xcom::ByteString& reply, Clock::time_point at,
                                           std::size_t sentBefore) {
  lastHeard_ = at;
  const auto mayAnswer = [&](const Owed& owed) {
    return owed.number < sentBefore && MayAnswer(reply, owed.request);
  };
  const auto first = std::find_if(owed_.begin(), owed_.end(), mayAnswer);
  if (first == owed_.end()) return {};
  // The first request it may answer took at least this long, if it is the one.
  slowest_ = std::max(slowest_, at - first->sent);
  const bool oneRequest = std::all_of(first, owed_.end(), [&](const Owed& owed) {
    return !mayAnswer(owed) || owed.request == first->request;
  });
  Attribution attribution{oneRequest ? Verdict::Answers : Verdict::InDoubt,
                          oneRequest ? first->request : xcom::ByteString{}};
  // In order: the requests before the one it answers were dropped. Which one it answers may be
  // unknown: the later ones stay owed.
  owed_.erase(owed_.begin(), first + 1);
  return attribution;
}

void ReplyLedger::TakeDamaged(Clock::time_point at) {
  lastHeard_ = at;
  if (!owed_.empty()) owed_.pop_front();
}

ReplyLedger::Clock::duration ReplyLedger::QuietSpan(Clock::duration atLeast) const {
  return std::max({quietAtLeast_, slowest_, atLeast});
}

ReplyLedger::Clock::time_point ReplyLedger::QuietAt(Clock::duration atLeast) const {
  const Clock::time_point newest = owed_.empty() ? Clock::time_point{} : owed_.back().sent;
  return std::max(newest, lastHeard_) + QuietSpan(atLeast);
}

bool ReplyLedger::GiveUpIfQuiet(Clock::time_point now, Clock::duration atLeast) {
  const Clock::time_point quietSince = now - QuietSpan(atLeast);
  if (lastHeard_ > quietSince) return owed_.empty();
  while (!owed_.empty() && owed_.front().sent <= quietSince) owed_.pop_front();
  return owed_.empty();
}

void ReplyLedger::Reset() {
  owed_.clear();
  lastHeard_ = {};
}

}  // namespace modbus
