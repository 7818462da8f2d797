#include "RequestFramer.h"

#include <algorithm>
#include <span>

#include "ModbusCrc.h"
#include "RtuFrameLength.h"
#include "RtuSilence.h"
#include "SimulatedModule.h"

using namespace modbus;  // the protocol layer

namespace kestrum_sim {

std::chrono::microseconds SilenceFor(const LineSettings& line) {
  if (line.baud == 0) return kMinimumSilence;
  const auto t35 = std::chrono::ceil<std::chrono::microseconds>(
      InterFrameSilence(line.baud, static_cast<unsigned>(line.BitsPerCharacter())));
  return std::max(t35, kMinimumSilence);
}

RequestFramer::RequestFramer(std::chrono::microseconds silence) : silence_(silence) {}

std::vector<FramerEvent> RequestFramer::Feed(const std::uint8_t* data, std::size_t size,
                                             Clock::time_point now) {
  std::vector<FramerEvent> events;
  if (size == 0) return events;
  if ((!buffer_.empty() || !discarded_.empty()) && now - lastByte_ >= silence_) Scan(true, events);
  buffer_.insert(buffer_.end(), data, data + size);
  lastByte_ = now;
  Scan(false, events);
  if (buffer_.size() > 2 * kMaxFrame) {
    // No frame starts this far back any more: everything but the newest kMaxFrame bytes is
    // garbage (a complete frame anywhere in the buffer would have been found by the scan).
    const auto keepFrom = buffer_.end() - static_cast<std::ptrdiff_t>(kMaxFrame);
    discarded_.insert(discarded_.end(), buffer_.begin(), keepFrom);
    buffer_.erase(buffer_.begin(), keepFrom);
  }
  if (discarded_.size() >= kMaxFrame) FlushDiscarded(events);
  return events;
}

std::vector<FramerEvent> RequestFramer::Poll(Clock::time_point now) {
  std::vector<FramerEvent> events;
  if ((!buffer_.empty() || !discarded_.empty()) && now - lastByte_ >= silence_) Scan(true, events);
  return events;
}

std::optional<Clock::time_point> RequestFramer::Deadline() const {
  if (buffer_.empty() && discarded_.empty()) return std::nullopt;
  return lastByte_ + silence_;
}

std::size_t RequestFramer::KnownFrameAt(std::size_t at, FramerEvent::Kind& kind) const {
  const std::size_t rest = buffer_.size() - at;
  const std::uint8_t* p = buffer_.data() + at;
  if (IsModeFrameHead(p, rest)) {
    kind = FramerEvent::Kind::ModeFrame;
    return rest >= kModeFrameSize ? kModeFrameSize : 0;
  }
  const std::optional<std::size_t> length = ExpectedRequestLength({p, rest});
  // Unknown length (an unknown function): only a silence can end it.
  if (!length || rest < *length || !HasValidCrc({p, *length})) return 0;
  kind = FramerEvent::Kind::Request;
  return *length;
}

void RequestFramer::FlushDiscarded(std::vector<FramerEvent>& events) {
  if (discarded_.empty()) return;
  events.push_back({FramerEvent::Kind::Discarded, std::move(discarded_)});
  discarded_.clear();
}

void RequestFramer::Scan(bool atSilence, std::vector<FramerEvent>& events) {
  for (bool found = true; found && !buffer_.empty();) {
    found = false;
    for (std::size_t at = 0; at < buffer_.size() && !found; ++at) {
      FramerEvent::Kind kind = FramerEvent::Kind::Request;
      std::size_t length = KnownFrameAt(at, kind);
      // At a silence, everything from here to the end may be one frame of unknown function.
      if (length == 0 && atSilence && buffer_.size() - at >= 4 &&
          HasValidCrc(std::span(buffer_).subspan(at))) {
        kind = FramerEvent::Kind::Request;
        length = buffer_.size() - at;
      }
      if (length == 0) continue;
      const auto begin = buffer_.begin() + static_cast<std::ptrdiff_t>(at);
      const auto end = begin + static_cast<std::ptrdiff_t>(length);
      discarded_.insert(discarded_.end(), buffer_.begin(), begin);
      FlushDiscarded(events);
      events.push_back({kind, xcom::ByteString(begin, end)});
      buffer_.erase(buffer_.begin(), end);
      found = true;
    }
  }
  if (atSilence) {
    discarded_.insert(discarded_.end(), buffer_.begin(), buffer_.end());
    buffer_.clear();
    FlushDiscarded(events);
  }
}

}  // namespace kestrum_sim
