#pragma once
// Cuts the byte stream a slave receives into requests, like a Modbus RTU slave does.
//
// A request ends as soon as it reaches the length its function code implies (8 bytes for 03
// and 06, 9 + byte count for 16, 9 for a mode frame AA 55 00 05 E0 50 ..) with a valid check
// sum, or at a silence on the line (3.5 character times at the line's baud; see SilenceFor).
// Bytes in front of a valid frame are skipped as garbage without losing the frame. What is left
// when the silence comes is taken as one frame if its CRC is valid (a request with a function
// code the framer does not know), otherwise it is discarded: a partial frame followed by
// silence is dropped. Discarded bytes are reported as one block, so that the caller can log them
// or, in data-centre mode, show them as free text.
//
// Pure: the caller passes the time with every call. Not thread-safe.

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "ByteString.h"
#include "LineSettings.h"

namespace kestrum_sim {

using Clock = std::chrono::steady_clock;

struct FramerEvent {
  enum class Kind {
    Request,    // a Modbus frame with a valid CRC (address and function not examined)
    ModeFrame,  // nine bytes that start with the mode-frame head (check sum not examined)
    Discarded,  // bytes that belong to no frame: garbage, or a partial frame cut by silence
  };
  Kind kind;
  xcom::ByteString bytes;
  bool operator==(const FramerEvent&) const = default;
};

class RequestFramer {
 public:
  // The longest frame a Modbus RTU slave has to take (256 bytes); the framer holds at most
  // twice that before it gives up on the oldest bytes.
  static constexpr std::size_t kMaxFrame = 256;

  explicit RequestFramer(std::chrono::microseconds silence);

  // Bytes received at `now`. If the line was silent long enough before them, what was buffered
  // is finished first. Returns every event completed by this call, in order.
  std::vector<FramerEvent> Feed(const std::uint8_t* data, std::size_t size, Clock::time_point now);
  std::vector<FramerEvent> Feed(const xcom::ByteString& bytes, Clock::time_point now) {
    return Feed(bytes.data(), bytes.size(), now);
  }

  // Called when no bytes came; finishes the buffer once the silence has passed.
  std::vector<FramerEvent> Poll(Clock::time_point now);

  // When Poll should be called next, or nullopt when nothing is buffered.
  std::optional<Clock::time_point> Deadline() const;

  std::chrono::microseconds Silence() const { return silence_; }
  std::size_t Buffered() const { return buffer_.size(); }

 private:
  void Scan(bool atSilence, std::vector<FramerEvent>& events);
  void FlushDiscarded(std::vector<FramerEvent>& events);
  // Length of a complete, valid frame of known length at `at`, or 0.
  std::size_t KnownFrameAt(std::size_t at, FramerEvent::Kind& kind) const;

  std::chrono::microseconds silence_;
  xcom::ByteString buffer_;
  xcom::ByteString discarded_;
  Clock::time_point lastByte_{};
};

// Silence that ends a frame: 3.5 character times at the line's baud rate and character format,
// the fixed 1.75 ms Modbus uses above 19200 baud, and never less than kMinimumSilence.
inline constexpr std::chrono::microseconds kMinimumSilence{2000};
std::chrono::microseconds SilenceFor(const LineSettings& line);

}  // namespace kestrum_sim
