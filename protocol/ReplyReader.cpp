#include "ReplyReader.h"

#include <algorithm>

#include "ModbusCrc.h"
#include "ReplyFraming.h"
#include "RequestFrames.h"

namespace modbus {

namespace {

bool IsRequest(const ByteString& frame) {
  // Broadcasts (address 0) get no reply.
  return frame.size() >= 4 && frame[0] != 0 && IsKnownReplyFunction(frame[1]) &&
         !IsExceptionFunction(frame[1]) && HasValidCrc(frame);
}

std::uint16_t StartRegister(const ByteString& request) {
  return static_cast<std::uint16_t>(request[2] << 8 | request[3]);
}

}  // namespace

void ReplyReader::Sent(const ByteString& frame, Clock::time_point now) {
  lastSent_ = frame;
  if (IsRequest(frame)) waiting_.push_back({frame, now});
}

ReplyReader::Result ReplyReader::Read(const ByteString& block, std::uint8_t slaveAddress,
                                      bool readingOutputs, Clock::time_point now) {
  while (!waiting_.empty() && now - waiting_.front().sentAt > kGiveUpAfter) waiting_.pop_front();
  std::vector<ByteString> ownFrames{lastSent_};
  for (const Waiting& waiting : waiting_) ownFrames.push_back(waiting.request);

  const std::vector<RtuPiece> pieces = SplitRtuBlock(block, ownFrames);
  Result result;
  result.logged = IsLoggedBlock(block) || HoldsWholeFrame(pieces);
  bool crcReported = false;
  for (const RtuPiece& piece : pieces) {
    // A frame that fails its CRC, or a block longer than any reply that holds no whole frame.
    const bool failed = piece.kind == RtuPiece::Kind::Damaged ||
                        (piece.kind == RtuPiece::Kind::Partial && IsDecodedBlock(piece.bytes));
    if (failed && !crcReported) {
      crcReported = true;
      result.shown.push_back({DecodedResponse::Outcome::CrcError, kCrcErrorLine, {}});
    }
    if (piece.kind != RtuPiece::Kind::Reply) continue;
    DecodedResponse shown = ReadReply(piece.bytes, slaveAddress, readingOutputs);
    if (shown.outcome != DecodedResponse::Outcome::Ignored) result.shown.push_back(shown);
  }
  return result;
}

ByteString ReplyReader::TakeAnswered(const ByteString& reply) {
  const auto sameSlave = [&reply](const Waiting& waiting) {
    return waiting.request[0] == reply[0];
  };
  const auto match = std::find_if(waiting_.begin(), waiting_.end(), [&](const Waiting& waiting) {
    return sameSlave(waiting) && waiting.request[1] == (reply[1] & ~kExceptionFlag);
  });
  if (match == waiting_.end()) return {};
  ByteString request = match->request;
  const auto last = match + 1;
  waiting_.erase(std::remove_if(waiting_.begin(), last, sameSlave), last);
  return request;
}

DecodedResponse ReplyReader::ReadReply(const ByteString& reply, std::uint8_t slaveAddress,
                                       bool readingOutputs) {
  const ByteString request = TakeAnswered(reply);
  // A reply that answers no waiting request is read as before: from the addressed slave only,
  // as the block the read phase says.
  if (request.empty() && reply[0] != slaveAddress) return {};
  if (IsExceptionFunction(reply[1])) return DecodeExceptionReply(reply);
  if (request.empty()) return DecodeResponse(reply, readingOutputs);
  if (request[1] != 0x03) return {};  // a relay write's reply is only logged
  if (StartRegister(request) == kInputBlockRegister) return DecodeResponse(reply, false);
  if (StartRegister(request) == kOutputBlockRegister) return DecodeResponse(reply, true);
  return {};
}

}  // namespace modbus
