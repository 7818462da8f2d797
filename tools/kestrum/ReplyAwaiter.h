#pragma once
// Waits for the module's reply to one request the Modbus RTU way: a frame is complete when it
// holds as many bytes as its function code and byte count say; bytes that form no reply are
// ended by 3.5 characters of silence. Stray bytes before a reply, the echo of the request (a
// 2-wire RS-485 adapter hears itself) and other slaves' replies are passed over.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "ByteString.h"
#include "XComDrv.h"

namespace kestrum {

// What the bytes received since `request` was sent hold.
struct ReplyScan {
  enum class Outcome {
    None,        // nothing that is or could become the reply
    Incomplete,  // the start of a frame: more bytes to come
    Complete,    // the reply (normal or exception) from the request's slave, CRC valid
    Corrupt,     // a whole frame whose CRC does not match
  };
  Outcome outcome = Outcome::None;
  xcom::ByteString reply;    // Complete
  xcom::ByteString after;    // Complete: the bytes that came after the reply
  std::size_t unframed = 0;  // bytes that are neither a frame nor the start of one
};
ReplyScan ScanForReply(const xcom::ByteString& received, const xcom::ByteString& request);

// 3.5 characters at `baud` with `bitsPerCharacter` (start, data, parity, stop); at least
// 1.75 ms, the fixed value Modbus RTU takes above 19200 baud.
std::chrono::microseconds SilenceFor(std::uint32_t baud, unsigned bitsPerCharacter);

struct ReplyWait {
  // Corrupt: a frame whose CRC failed; Noise: bytes as many as a reply that frame nothing.
  enum class Status { Reply, Corrupt, Noise, Timeout, Interrupted, DeviceLost };
  Status status = Status::Timeout;
  xcom::ByteString frame;  // Reply: the reply
  xcom::ByteString after;  // Reply: the bytes that came after it (more late replies, say)
};

class ReplyAwaiter {
  static inline const std::atomic<bool> kNeverStopped{false};

 public:
  using BlockSink = std::function<void(const xcom::ByteString&)>;
  // `onReceived` sees every block as it arrives (the verbose trace). `stop` is polled at least
  // every 50 ms while waiting.
  ReplyAwaiter(xcom::TCustomComm& port, std::chrono::microseconds silence,
               const std::atomic<bool>& stop, BlockSink onReceived);

  // Waits up to `timeout` for the reply to `request` (address and function taken from it).
  ReplyWait Await(const xcom::ByteString& request, std::chrono::milliseconds timeout);
  // Waits until `until` for bytes, and takes them up to the silence that ends them: empty when
  // none came (or Ctrl-C, or the device went away).
  xcom::ByteString TakeBlock(std::chrono::steady_clock::time_point until);
  // Takes whatever is queued, so that a late reply to an earlier attempt is not taken for the
  // next one.
  xcom::ByteString Discard();
  // From now on waits as if nothing had been stopped: for what must be done after a stop.
  void IgnoreStop() { stop_ = &kNeverStopped; }

 private:
  // Waits up to `wait` for the first byte, then takes every byte queued.
  xcom::ByteString Take(std::chrono::microseconds wait);

  xcom::TCustomComm& port_;
  const std::chrono::microseconds silence_;
  const std::atomic<bool>* stop_;
  BlockSink onReceived_;
};

}  // namespace kestrum
