#include "ResponseDecoder.h"

#include <algorithm>
#include <cstdio>

#include "HexText.h"
#include "ModbusCrc.h"
#include "ModuleModel.h"
#include "ReplyFraming.h"

namespace modbus {

bool IsLoggedBlock(const ByteString& block) {
  return std::any_of(block.begin(), block.end(), [](std::uint8_t byte) { return byte > 0x20; });
}

bool IsDecodedBlock(const ByteString& block) {
  return block.size() > 8;
}

DecodedResponse DecodeResponse(const ByteString& block, bool readingOutputs) {
  DecodedResponse result;
  const std::size_t n = block.size();
  if (n < 9 || block[1] != 0x03) return result;
  if (!HasValidCrc(block)) {
    result.outcome = DecodedResponse::Outcome::CrcError;
    result.errorLine = kCrcErrorLine;
    return result;
  }
  result.outcome = DecodedResponse::Outcome::Decoded;
  const char* label = readingOutputs ? "DO%d=" : "DI%d=";
  const int firstRow = readingOutputs ? kRowDO0 : kRowDI0;
  const RegisterPair registers = RegisterPairOf(block);
  for (int k = 1; k <= 2; ++k) {
    const std::uint16_t whole = k == 1 ? registers.first : registers.second;
    const std::string value = BytesToHexText({LowByte(whole)});
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, label, k);
    result.channels.push_back({prefix + value, firstRow + k - 1, value});
  }
  return result;
}

DecodedResponse DecodeExceptionReply(const ByteString& frame) {
  DecodedResponse result;
  if (frame.size() < 3 || !IsExceptionFunction(frame[1])) return result;
  const auto function = static_cast<std::uint8_t>(frame[1] & ~kExceptionFlag);
  result.outcome = DecodedResponse::Outcome::Refused;
  result.errorLine = "异常应答：功能码" + ByteToHex(function) + " (" + FunctionCodeText(function) +
                     ")，异常码" + ByteToHex(frame[2]) + " (" + ExceptionCodeText(frame[2]) + ")";
  return result;
}

}  // namespace modbus
