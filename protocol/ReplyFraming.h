#pragma once
// Modbus RTU reply framing, for anything that sends requests and reads what comes back:
//  - the length of a reply frame from its first bytes (ExpectedReplyLength, RtuFrameLength.h),
//    so a reader knows when a frame is whole;
//  - cutting a received block into frames (SplitRtuBlock): replies, the echo of the sender's own
//    requests (a 2-wire RS-485 adapter hears itself), damaged frames and stray bytes;
//  - function and exception codes in words.
// Plain C++ without state or I/O. A request/reply loop reads until
//   ExpectedReplyLength(bytes) gives n and bytes.size() >= n,
// then checks the CRC of those n bytes (HasValidCrc in ModbusCrc.h).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ByteString.h"
#include "RtuFrameLength.h"

namespace modbus {

// Modbus exception codes.
inline constexpr std::uint8_t kIllegalFunction = 0x01;
inline constexpr std::uint8_t kIllegalDataAddress = 0x02;
inline constexpr std::uint8_t kIllegalDataValue = 0x03;
inline constexpr std::uint8_t kSlaveDeviceFailure = 0x04;

// One piece of a received block, in the order the bytes came.
struct RtuPiece {
  enum class Kind {
    Reply,    // a whole reply frame of a known function with a valid CRC
    Echo,     // a copy of a frame the sender itself sent
    Damaged,  // a frame whose length fits in the block but whose CRC fails
    Partial,  // the start of a frame (or of an echo) cut off by the end of the block
    Noise,    // bytes that begin no frame (consecutive ones form one piece)
  };
  Kind kind = Kind::Noise;
  xcom::ByteString bytes;
  bool operator==(const RtuPiece&) const = default;
};

// Cuts `block` into pieces. A frame is taken where one starts: at every position a copy of one
// of `sentFrames` is an Echo, a reply whose length fits and whose CRC holds is a Reply, and
// bytes between frames are Damaged (a known frame head whose length fits), Partial (at the end
// of the block) or Noise. A sent frame that is itself a valid reply (a write of one coil or
// register is answered with a copy of the request) counts as an echo only when a second copy
// follows it, so the reply of a line without echo is not lost.
std::vector<RtuPiece> SplitRtuBlock(std::span<const std::uint8_t> block,
                                    std::span<const xcom::ByteString> sentFrames);

// True when the pieces hold at least one whole frame: a Reply or an Echo.
bool HoldsWholeFrame(const std::vector<RtuPiece>& pieces);

// The exception code in words: 01 "illegal function", 02 "illegal data address", 03 "illegal
// data value", 04 "slave device failure", 05 "acknowledge", 06 "slave device busy", 08 "memory
// parity error", 0A "gateway path unavailable", 0B "gateway target device failed to respond";
// any other code "exception code NN" (NN in hex).
std::string ExceptionCodeText(std::uint8_t code);

// The function code in words ("read holding registers", "write multiple registers", ...),
// without the exception bit; an unknown code gives "function NN" (NN in hex).
std::string FunctionCodeText(std::uint8_t function);

}  // namespace modbus
