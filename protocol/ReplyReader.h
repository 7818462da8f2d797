#pragma once
// What a received block means. The tool does not wait for replies: it sends and goes on, and
// the receive poll reads whatever came. A Modbus RTU slave answers requests in the order it got
// them, so each reply answers the oldest request still waiting for one, whenever the reply
// comes; a request left without a reply for kGiveUpAfter is given up. A block is cut into RTU
// frames first: the echo of the tool's own frames (2-wire RS-485 adapters hear themselves),
// several replies in one block and stray bytes before a reply are all read for what they are.

#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

#include "ByteString.h"
#include "ResponseDecoder.h"

namespace modbus {

class ReplyReader {
 public:
  using Clock = std::chrono::steady_clock;

  // Longer than the slowest module the tool serves (1 s, plus the poll's own delay), shorter
  // than the auto-read's period, so a request left unanswered never takes the next one's reply.
  static constexpr std::chrono::milliseconds kGiveUpAfter{1500};

  // Every frame that left whole. A Modbus request then waits for its reply; any frame may
  // come back as an echo.
  void Sent(const ByteString& frame, Clock::time_point now);

  struct Result {
    bool logged = false;                 // the receive line is written
    std::vector<DecodedResponse> shown;  // in order; none is Outcome::Ignored
  };

  // Reads one received block. `slaveAddress` is the address byte the tool sends to now, and
  // `readingOutputs` the read phase: they decide only for a reply that answers no waiting
  // request. Blocks are logged when they hold a byte above 0x20 or a whole frame. One
  // "CRC校验失败！" line stands for a block with a frame that fails its CRC.
  Result Read(const ByteString& block, std::uint8_t slaveAddress, bool readingOutputs,
              Clock::time_point now);

 private:
  struct Waiting {
    ByteString request;
    Clock::time_point sentAt;
  };
  // The request `reply` answers, taken off the list with every older one of the same slave
  // (their replies did not come); empty when none waits.
  ByteString TakeAnswered(const ByteString& reply);
  DecodedResponse ReadReply(const ByteString& reply, std::uint8_t slaveAddress,
                            bool readingOutputs);

  std::deque<Waiting> waiting_;
  ByteString lastSent_;
};

}  // namespace modbus
