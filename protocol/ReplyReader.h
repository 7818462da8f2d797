#pragma once
// What a received block means to the window. The window does not wait for replies: it sends
// and goes on, and the receive poll reads whatever came. The block is cut into RTU frames first:
// the echo of the tool's own frames (2-wire RS-485 adapters hear themselves), several replies in
// one block and stray bytes before a reply are all read for what they are. Which request a reply
// answers is the ledger's rule (ReplyLedger.h); the window adds what it knows of the order: the
// bytes that were waiting to be read when a frame left came before it, so they cannot answer it.
// A reply in doubt shows no value, only its note (Outcome::InDoubt).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "ByteString.h"
#include "ReplyLedger.h"
#include "ResponseDecoder.h"

namespace modbus {

// Until the first request since the open, a read reply of the addressed slave is read as the
// read phase says, as the design has it: it cannot be a late reply to anything sent.
struct ReadPhase {
  int slaveAddress = -1;  // none: nothing is read by the phase
  bool readingOutputs = false;
};

class ReplyReader {
 public:
  using Clock = ReplyLedger::Clock;
  // Requests owed longer than this (twice the slowest reply, if more) with nothing heard since
  // are given up: the read-all's own period, so a lost reply troubles one read-all at most.
  static constexpr std::chrono::milliseconds kQuietSpan{1000};

  // Every frame sent; `whole` tells whether it left whole. `queuedBefore` is the number of
  // received bytes that were waiting to be read when it left.
  void Sent(const xcom::ByteString& frame, bool whole, std::size_t queuedBefore,
            Clock::time_point at = Clock::now());

  // The port was opened: nothing sent before waits, nothing received before is still to come.
  void Reset();

  struct Result {
    bool logged = false;                 // the receive line is written
    std::vector<DecodedResponse> shown;  // in order; none is Outcome::Ignored
  };

  // Reads the next received block. Blocks are logged when they hold a byte above 0x20 or a whole
  // frame. One CrcError stands for a block with a damaged read reply.
  Result Read(const xcom::ByteString& block, const ReadPhase& phase = {},
              Clock::time_point at = Clock::now());

 private:
  // A frame that left, and where the bytes received after it begin.
  struct Departure {
    xcom::ByteString frame;  // for its echo
    std::uint64_t firstByte = 0;
    std::size_t requestsBefore = 0;  // the ledger's count of requests sent before it
  };
  std::size_t RequestsSentBefore(std::uint64_t byte) const;
  DecodedResponse Shown(const ReplyLedger::Attribution& attribution, const xcom::ByteString& reply,
                        const ReadPhase& phase) const;

  ReplyLedger ledger_{kQuietSpan};
  std::deque<Departure> departures_;
  std::uint64_t received_ = 0;  // bytes read since the open
};

}  // namespace modbus
