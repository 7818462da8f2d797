#include "ReplyReader.h"

#include <algorithm>
#include <optional>

#include "modbuscrc.h"

namespace kestrum {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr auto kStopPoll = milliseconds(50);
// The shortest reply (an exception: address, function, code, CRC).
constexpr std::size_t kShortestReply = 5;

// The length of the reply frame starting at `frame`, from its function code and byte count;
// nothing while too few bytes are there to tell.
std::optional<std::size_t> ReplyFrameLength(const std::uint8_t* frame, std::size_t available) {
  if (available < 2) return std::nullopt;
  const std::uint8_t function = frame[1];
  if (function & 0x80) return 5;
  if (function == 0x03 || function == 0x04) {
    if (available < 3) return std::nullopt;
    return std::size_t{5} + frame[2];
  }
  return 8;  // 05, 06, 15, 16: an echo of address, register and value or count
}

std::uint32_t WholeMilliseconds(microseconds wait) {
  return static_cast<std::uint32_t>(std::max<std::int64_t>(0, (wait.count() + 999) / 1000));
}

}  // namespace

ReplyScan ScanForReply(const ByteString& received, std::uint8_t address, std::uint8_t function) {
  bool incomplete = false, corrupt = false;
  for (std::size_t i = 0; i < received.size(); ++i) {
    if (received[i] != address) continue;
    const std::size_t available = received.size() - i;
    if (available > 1 && received[i + 1] != function && received[i + 1] != (function | 0x80))
      continue;
    const auto length = ReplyFrameLength(received.data() + i, available);
    if (!length || *length > available) {
      incomplete = true;
      continue;
    }
    if (ModbusCrc16Value(received.data() + i, *length) == 0)
      return {ReplyScan::Outcome::kComplete, i, *length};
    corrupt = true;
  }
  if (incomplete) return {ReplyScan::Outcome::kIncomplete};
  return {corrupt ? ReplyScan::Outcome::kCorrupt : ReplyScan::Outcome::kNone};
}

std::chrono::microseconds SilenceFor(std::uint32_t baud, unsigned bitsPerCharacter) {
  const auto exact =
      microseconds(std::uint64_t{35} * bitsPerCharacter * 100000 / std::max(baud, 1u));
  return std::max(exact, microseconds(1750));
}

ReplyReader::ReplyReader(xcom::TCustomComm& port, std::chrono::microseconds silence,
                         const std::atomic<bool>& stop, BlockSink onReceived)
    : port_(port), silence_(silence), stop_(stop), onReceived_(std::move(onReceived)) {}

ByteString ReplyReader::Take(std::chrono::microseconds wait) {
  std::uint8_t first = 0;
  if (port_.ReadData(&first, 1, WholeMilliseconds(wait)) == 0) return {};
  ByteString block{first}, rest;
  if (port_.ReadString(rest)) block.insert(block.end(), rest.begin(), rest.end());
  if (onReceived_) onReceived_(block);
  return block;
}

void ReplyReader::Discard() {
  ByteString stale;
  while (port_.ReadString(stale))
    if (onReceived_) onReceived_(stale);
}

ReplyWait ReplyReader::Await(const ByteString& request, std::chrono::milliseconds timeout) {
  const std::uint8_t address = request.at(0), function = request.at(1);
  const auto deadline = Clock::now() + timeout;
  ByteString received;
  for (;;) {
    const ReplyScan scan = ScanForReply(received, address, function);
    if (scan.outcome == ReplyScan::Outcome::kComplete)
      return {ReplyWait::Status::kReply, ByteString(received.begin() + scan.offset,
                                                    received.begin() + scan.offset + scan.length)};
    const auto left = std::chrono::duration_cast<microseconds>(deadline - Clock::now());
    // Bytes that hold no reply end at the first silence; a reply under way may pause longer.
    const bool ending = !received.empty() && scan.outcome != ReplyScan::Outcome::kIncomplete;
    if (left.count() <= 0)
      return {ending && (scan.outcome == ReplyScan::Outcome::kCorrupt ||
                         received.size() >= kShortestReply)
                  ? ReplyWait::Status::kCorrupt
                  : ReplyWait::Status::kTimeout,
              {}};
    const auto wait = std::min<microseconds>(left, ending ? silence_ : microseconds(kStopPoll));
    const ByteString more = Take(wait);
    if (stop_) return {ReplyWait::Status::kInterrupted, {}};
    if (!more.empty()) {
      received.insert(received.end(), more.begin(), more.end());
    } else if (ending) {
      // The line went quiet after bytes that are no reply: a reply with a bad CRC, or a frame
      // too mangled to be recognised, unless it was a few stray bytes or another slave's frame.
      if (scan.outcome == ReplyScan::Outcome::kCorrupt ||
          (received.size() >= kShortestReply && !HasValidCrc(received)))
        return {ReplyWait::Status::kCorrupt, {}};
      received.clear();
    }
  }
}

}  // namespace kestrum
