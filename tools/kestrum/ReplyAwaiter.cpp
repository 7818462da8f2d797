#include "ReplyAwaiter.h"

#include <algorithm>
#include <optional>

#include "ReplyFraming.h"
#include "RtuSilence.h"

using namespace modbus;  // the protocol layer

namespace kestrum {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr auto kStopPoll = milliseconds(50);
// Unframed bytes from this many on are a mangled reply rather than a few stray bytes: as many
// as the shortest reply (an exception: address, function, code, CRC).
constexpr std::size_t kShortestReply = 5;

std::uint32_t WholeMilliseconds(microseconds wait) {
  return static_cast<std::uint32_t>(std::max<std::int64_t>(0, (wait.count() + 999) / 1000));
}

}  // namespace

ReplyScan ScanForReply(const xcom::ByteString& received, const xcom::ByteString& request) {
  const std::uint8_t address = request.at(0), function = request.at(1);
  ReplyScan scan;
  bool damaged = false;
  const std::vector<RtuPiece> pieces = SplitRtuBlock(received, std::span(&request, 1));
  for (auto piece = pieces.begin(); piece != pieces.end(); ++piece) {
    switch (piece->kind) {
      case RtuPiece::Kind::Reply:
        if (piece->bytes[0] == address &&
            (piece->bytes[1] == function || piece->bytes[1] == (function | kExceptionFlag))) {
          xcom::ByteString after;
          for (auto next = piece + 1; next != pieces.end(); ++next)
            after.insert(after.end(), next->bytes.begin(), next->bytes.end());
          return {ReplyScan::Outcome::Complete, piece->bytes, after, scan.unframed};
        }
        break;  // another slave's reply
      case RtuPiece::Kind::Damaged:
        damaged = true;
        break;
      case RtuPiece::Kind::Partial:
        scan.outcome = ReplyScan::Outcome::Incomplete;  // always the last piece
        break;
      case RtuPiece::Kind::Noise:
        scan.unframed += piece->bytes.size();
        break;
      case RtuPiece::Kind::Echo:
        break;
    }
  }
  if (scan.outcome == ReplyScan::Outcome::None && damaged)
    scan.outcome = ReplyScan::Outcome::Corrupt;
  return scan;
}

std::chrono::microseconds SilenceFor(std::uint32_t baud, unsigned bitsPerCharacter) {
  const auto exact =
      std::chrono::floor<microseconds>(InterFrameSilence(std::max(baud, 1u), bitsPerCharacter));
  return std::max(exact, kFixedInterFrameSilence);
}

ReplyAwaiter::ReplyAwaiter(xcom::TCustomComm& port, std::chrono::microseconds silence,
                           const std::atomic<bool>& stop, BlockSink onReceived)
    : port_(port), silence_(silence), stop_(&stop), onReceived_(std::move(onReceived)) {}

xcom::ByteString ReplyAwaiter::Take(std::chrono::microseconds wait) {
  std::uint8_t first = 0;
  if (port_.ReadData(&first, 1, WholeMilliseconds(wait)) == 0) return {};
  xcom::ByteString block{first}, rest;
  if (port_.ReadString(rest)) block.insert(block.end(), rest.begin(), rest.end());
  if (onReceived_) onReceived_(block);
  return block;
}

xcom::ByteString ReplyAwaiter::Discard() {
  // Bounded: a line that never stops sending (noise, a streaming peer) must not hold us here.
  xcom::ByteString stale, more;
  for (int round = 0; round < 16 && port_.ReadString(more); ++round) {
    if (onReceived_) onReceived_(more);
    stale.insert(stale.end(), more.begin(), more.end());
  }
  return stale;
}

xcom::ByteString ReplyAwaiter::TakeBlock(Clock::time_point until) {
  xcom::ByteString block;
  for (;;) {
    const auto left = std::chrono::duration_cast<microseconds>(until - Clock::now());
    if (*stop_ || port_.DeviceLost()) return block;
    if (block.empty() && left.count() <= 0) return block;
    // The first byte is awaited until `until`; the rest of the block only up to a silence.
    const xcom::ByteString more =
        Take(block.empty() ? std::min<microseconds>(left, kStopPoll) : silence_);
    if (more.empty() && !block.empty()) return block;
    block.insert(block.end(), more.begin(), more.end());
  }
}

ReplyWait ReplyAwaiter::Await(const xcom::ByteString& request, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  xcom::ByteString received;
  for (;;) {
    const ReplyScan scan = ScanForReply(received, request);
    if (scan.outcome == ReplyScan::Outcome::Complete)
      return {ReplyWait::Status::Reply, scan.reply, scan.after};
    // A frame with a bad CRC, or bytes as many as a reply that frame nothing (a reply too
    // mangled to be recognised, or noise): unlike a few stray bytes, an echo or another slave's
    // frame, they end the attempt at the silence after them. Only the first is a CRC error.
    const ReplyWait::Status spoilt = scan.outcome == ReplyScan::Outcome::Corrupt
                                         ? ReplyWait::Status::Corrupt
                                     : scan.unframed >= kShortestReply ? ReplyWait::Status::Noise
                                                                       : ReplyWait::Status::Timeout;
    const auto left = std::chrono::duration_cast<microseconds>(deadline - Clock::now());
    if (left.count() <= 0) return {spoilt, {}, {}};
    // Bytes that hold no reply end at the first silence; a frame under way may pause longer.
    const bool ending = !received.empty() && scan.outcome != ReplyScan::Outcome::Incomplete;
    const auto wait = std::min<microseconds>(left, ending ? silence_ : microseconds(kStopPoll));
    const xcom::ByteString more = Take(wait);
    if (*stop_) return {ReplyWait::Status::Interrupted, {}, {}};
    if (port_.DeviceLost()) return {ReplyWait::Status::DeviceLost, {}, {}};
    if (!more.empty()) {
      received.insert(received.end(), more.begin(), more.end());
    } else if (ending) {
      if (spoilt != ReplyWait::Status::Timeout) return {spoilt, {}, {}};
      received.clear();
    }
  }
}

}  // namespace kestrum
