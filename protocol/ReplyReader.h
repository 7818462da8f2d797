#pragma once
// What a received block means. The tool does not wait for replies: it sends and goes on, and
// the receive poll reads whatever came. Like any Modbus master, it gives a request up when it
// sends the next frame: bytes that were waiting to be read when a frame left belong to what was
// sent before it, bytes that came after belong to that frame. So a reply that is corrupted or
// lost cannot move the next reply to the wrong request, and a late reply is read as the answer
// to the frame it came after (a reply later than the next frame cannot be told from that
// frame's own reply). A block is cut into RTU frames first: the echo of the tool's own frame
// (2-wire RS-485 adapters hear themselves), several replies in one block and stray bytes
// before a reply are all read for what they are.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "ByteString.h"
#include "ResponseDecoder.h"

namespace modbus {

class ReplyReader {
 public:
  // Every frame sent; `whole` tells whether it left whole. `queuedBefore` is the number of
  // received bytes that were waiting to be read when it left.
  void Sent(const xcom::ByteString& frame, bool whole, std::size_t queuedBefore);

  // The port was opened: nothing sent before waits, nothing received before is still to come.
  void Reset();

  struct Result {
    bool logged = false;                 // the receive line is written
    std::vector<DecodedResponse> shown;  // in order; none is Outcome::Ignored
  };

  // Reads the next received block. After a frame that is no request (a mode frame, free text,
  // nothing since the open), a read reply of `slaveAddress` is read as the read phase
  // `readingOutputs` says. Blocks are logged when they hold a byte above 0x20 or a whole frame.
  // One CrcError stands for a block with a damaged read reply.
  Result Read(const xcom::ByteString& block, std::uint8_t slaveAddress, bool readingOutputs);

 private:
  // The bytes received after one frame left and before the next did.
  struct Window {
    xcom::ByteString frame;    // for its echo
    xcom::ByteString request;  // empty unless the frame is a request that left whole
    std::uint64_t firstByte = 0;
  };
  struct Reading {
    std::uint8_t slaveAddress;
    bool readingOutputs;
    Result& result;
  };
  void ReadWindow(const Window& window, std::span<const std::uint8_t> bytes,
                  const Reading& reading);
  DecodedResponse ReadReply(const Window& window, const xcom::ByteString& reply,
                            const Reading& reading) const;

  std::deque<Window> windows_{Window{}};
  std::uint64_t received_ = 0;  // bytes read since the open
};

}  // namespace modbus
