#include "ResponseDecoder.h"

#include <algorithm>

#include "ModbusCrc.h"
#include "ModuleModel.h"
#include "ReplyFraming.h"

namespace modbus {

bool IsLoggedBlock(const xcom::ByteString& block) {
  return std::any_of(block.begin(), block.end(), [](std::uint8_t byte) { return byte > 0x20; });
}

bool IsDecodedBlock(const xcom::ByteString& block) {
  return block.size() > 8;
}

DecodedResponse DecodeResponse(const xcom::ByteString& block, const RegisterRead& read) {
  DecodedResponse result;
  if (block.size() < std::max<std::size_t>(9, ReplySize(read)) || block[1] != 0x03) return result;
  if (!HasValidCrc(block)) {
    result.outcome = DecodedResponse::Outcome::CrcError;
    return result;
  }
  result.outcome = DecodedResponse::Outcome::Decoded;
  result.read = read;
  result.registers = RegistersOf(block, read.count);
  return result;
}

DecodedResponse DecodeExceptionReply(const xcom::ByteString& frame) {
  DecodedResponse result;
  if (frame.size() < 3 || !IsExceptionFunction(frame[1])) return result;
  result.outcome = DecodedResponse::Outcome::Refused;
  result.function = static_cast<std::uint8_t>(frame[1] & ~kExceptionFlag);
  result.exceptionCode = frame[2];
  return result;
}

}  // namespace modbus
