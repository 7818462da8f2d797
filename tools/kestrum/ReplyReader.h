#pragma once
// Waits for the module's reply to one request the Modbus RTU way: a frame is complete when it
// holds as many bytes as its function code and byte count say; bytes that form no reply are
// ended by 3.5 characters of silence. Stray bytes before a reply are skipped.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "ByteString.h"
#include "XComDrv.h"

namespace kestrum {

// Where a reply from `address` to `function` stands in the bytes received so far.
struct ReplyScan {
  enum class Outcome {
    kNone,        // nothing that could become the reply
    kIncomplete,  // the start of a reply: more bytes to come
    kComplete,    // a whole reply with a valid CRC at [offset, offset + length)
    kCorrupt,     // a whole frame of the reply's length whose CRC does not match
  };
  Outcome outcome = Outcome::kNone;
  std::size_t offset = 0;
  std::size_t length = 0;
};
ReplyScan ScanForReply(const ByteString& received, std::uint8_t address, std::uint8_t function);

// 3.5 characters at `baud` with `bitsPerCharacter` (start, data, parity, stop); at least
// 1.75 ms, the fixed value Modbus RTU takes above 19200 baud.
std::chrono::microseconds SilenceFor(std::uint32_t baud, unsigned bitsPerCharacter);

struct ReplyWait {
  enum class Status { kReply, kCorrupt, kTimeout, kInterrupted };
  Status status = Status::kTimeout;
  ByteString frame;  // kReply: the reply
};

class ReplyReader {
 public:
  using BlockSink = std::function<void(const ByteString&)>;
  // `onReceived` sees every block as it arrives (the verbose trace). `stop` is polled at least
  // every 50 ms while waiting.
  ReplyReader(xcom::TCustomComm& port, std::chrono::microseconds silence,
              const std::atomic<bool>& stop, BlockSink onReceived);

  // Waits up to `timeout` for the reply to `request` (address and function taken from it).
  ReplyWait Await(const ByteString& request, std::chrono::milliseconds timeout);
  // Takes whatever is queued, so that a late reply to an earlier attempt is not taken for the
  // next one.
  void Discard();

 private:
  // Waits up to `wait` for the first byte, then takes every byte queued.
  ByteString Take(std::chrono::microseconds wait);

  xcom::TCustomComm& port_;
  const std::chrono::microseconds silence_;
  const std::atomic<bool>& stop_;
  BlockSink onReceived_;
};

}  // namespace kestrum
