#pragma once
// What the receive poll does with a block of received bytes, and the decoding of the module's
// read replies into typed values. How the values are worded and where they show is the
// window's business.

#include <cstdint>
#include <vector>

#include "ByteString.h"
#include "ModuleModel.h"

namespace modbus {

// A block is logged when it holds at least one byte above 0x20 (it is not empty once the
// leading and trailing bytes of 0x20 or below are trimmed). The log shows the whole block.
bool IsLoggedBlock(const xcom::ByteString& block);

// A block is handed to the decoder when it is longer than 8 bytes (a relay reply has 8).
bool IsDecodedBlock(const xcom::ByteString& block);

struct DecodedResponse {
  enum class Outcome {
    Ignored,   // function code is not 03: nothing is logged, nothing changes
    CrcError,  // the reply is damaged: nothing changes
    Decoded,   // `read` and `registers` hold the values
    Refused,   // an exception reply: `function` and `exceptionCode` name it
    InDoubt,   // a reply that may answer more than one request: nothing changes
  };
  Outcome outcome = Outcome::Ignored;
  RegisterRead read;                     // the read the reply answers
  std::vector<std::uint16_t> registers;  // whole, as the module sent them, from `read.start` on
  std::uint8_t function = 0;             // the function refused, without the exception flag
  std::uint8_t exceptionCode = 0;        // why it was refused
  bool operator==(const DecodedResponse&) const = default;
};

// Decodes a reply to `read`. Which read it answers is not in the reply: the caller knows it
// (the request it answers, or the read phase). The reply must hold at least 9 bytes (the
// caller's rule) and the registers read; a shorter one is ignored. Neither its address nor its
// byte count is checked, and registers beyond those read take part only in the CRC.
DecodedResponse DecodeResponse(const xcom::ByteString& block, const RegisterRead& read);

// An exception reply (address, function | 0x80, code, CRC): the function and the code.
DecodedResponse DecodeExceptionReply(const xcom::ByteString& frame);

}  // namespace modbus
