#pragma once
// What the receive poll does with a block of received bytes, and the decoding of the module's
// read replies into log lines and status-list cells. The window only puts the results on screen.

#include <string>
#include <vector>

#include "ByteString.h"

namespace modbus {

// A block is logged when it holds at least one byte above 0x20 (it is not empty once the
// leading and trailing bytes of 0x20 or below are trimmed). The log shows the whole block.
bool IsLoggedBlock(const ByteString& block);

// A block is handed to the decoder when it is longer than 8 bytes (a relay reply has 8).
bool IsDecodedBlock(const ByteString& block);

// The status-list rows the decoder writes: DI0, DI1 (input block) and DO0, DO1 (output block).
inline constexpr int kRowDI0 = 1;
inline constexpr int kRowDI1 = 2;
inline constexpr int kRowDO0 = 4;
inline constexpr int kRowDO1 = 5;

// One decoded channel: its log line ("DI1=01 "), the row of the status list and the cell text
// ("01 ").
struct ChannelValue {
  std::string logLine;
  int row = 0;
  std::string cellText;
  bool operator==(const ChannelValue&) const = default;
};

struct DecodedResponse {
  enum class Outcome {
    Ignored,   // function code is not 03: nothing is logged, nothing changes
    CrcError,  // errorLine is logged, nothing changes
    Decoded,   // channels, in order: log line 1, cell 1, log line 2, cell 2
    Refused,   // an exception reply: errorLine names the function and the exception
  };
  Outcome outcome = Outcome::Ignored;
  std::string errorLine;
  std::vector<ChannelValue> channels;
};

// The line logged for a reply whose CRC does not match.
inline constexpr const char* kCrcErrorLine = "CRC校验失败！";

// Decodes a reply to a two-register read. Which block it belongs to is not in the reply: it
// is the read phase `readingOutputs` at the moment of decoding. The reply must hold at least
// 9 bytes (the caller's rule); a shorter one is ignored.
DecodedResponse DecodeResponse(const ByteString& block, bool readingOutputs);

// The line logged for an exception reply (address, function | 0x80, code, CRC), naming the
// function and the exception in words:
// "异常应答：功能码10 (write multiple registers)，异常码02 (illegal data address)".
DecodedResponse DecodeExceptionReply(const ByteString& frame);

}  // namespace modbus
