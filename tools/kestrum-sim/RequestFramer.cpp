#include "RequestFramer.h"

#include <algorithm>

#include "ModbusCrc.h"
#include "SimulatedModule.h"

using namespace modbus;  // the protocol layer

namespace kestrum_sim {

std::chrono::microseconds SilenceFor(const LineSettings& line) {
  using std::chrono::microseconds;
  if (line.baud == 0) return kMinimumSilence;
  // Above 19200 baud Modbus fixes the inter-frame silence at 1750 microseconds.
  const microseconds t35 =
      line.baud > 19200
          ? microseconds(1750)
          : microseconds((35'000'000ULL * line.BitsPerCharacter() + 10ULL * line.baud - 1) /
                         (10ULL * line.baud));
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
  if (rest < 2) return 0;
  std::size_t length = 0;
  switch (p[1]) {
    case 0x01:  // read coils, discrete inputs, holding and input registers,
    case 0x02:  // write single coil and single register: fixed 8 bytes
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
      length = 8;
      break;
    case 0x0F:  // write multiple coils and registers: byte count in byte 7
    case 0x10:
      if (rest < 7) return 0;
      length = 9u + p[6];
      break;
    case 0x16:  // mask write register
      length = 10;
      break;
    case 0x17:  // read/write multiple registers: byte count in byte 11
      if (rest < 11) return 0;
      length = 13u + p[10];
      break;
    default:
      return 0;  // unknown length: only a silence can end it
  }
  if (rest < length || ModbusCrc16Value(p, length - 2) != (p[length - 2] | p[length - 1] << 8))
    return 0;
  kind = FramerEvent::Kind::Request;
  return length;
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
          HasValidCrc(
              ByteString(buffer_.begin() + static_cast<std::ptrdiff_t>(at), buffer_.end()))) {
        kind = FramerEvent::Kind::Request;
        length = buffer_.size() - at;
      }
      if (length == 0) continue;
      const auto begin = buffer_.begin() + static_cast<std::ptrdiff_t>(at);
      const auto end = begin + static_cast<std::ptrdiff_t>(length);
      discarded_.insert(discarded_.end(), buffer_.begin(), begin);
      FlushDiscarded(events);
      events.push_back({kind, ByteString(begin, end)});
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
