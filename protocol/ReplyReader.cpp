#include "ReplyReader.h"

#include <algorithm>
#include <limits>

#include "ModbusCrc.h"
#include "ReplyFraming.h"
#include "RequestFrames.h"

namespace modbus {

namespace {

bool IsRequest(const xcom::ByteString& frame) {
  // Broadcasts (address 0) get no reply.
  return frame.size() >= 4 && frame[0] != 0 && IsKnownReplyFunction(frame[1]) &&
         !IsExceptionFunction(frame[1]) && HasValidCrc(frame);
}

std::uint16_t StartRegister(const xcom::ByteString& request) {
  return static_cast<std::uint16_t>(request[2] << 8 | request[3]);
}

bool IsWholeFrame(const RtuPiece& piece) {
  return piece.kind == RtuPiece::Kind::Reply || piece.kind == RtuPiece::Kind::Echo;
}

// A damaged read reply starts at pieces[at]: a frame head of function 03 that is no whole frame,
// with the bytes up to the next whole frame long enough to be decoded (more than 8: the
// shorter ones are never decoded). The address is not examined: a bit flipped there damages
// the reply of the slave asked as much as any other.
bool StartsDamagedReadReply(const std::vector<RtuPiece>& pieces, std::size_t at) {
  const xcom::ByteString& head = pieces[at].bytes;
  if (IsWholeFrame(pieces[at]) || pieces[at].kind == RtuPiece::Kind::Noise || head.size() < 2 ||
      head[1] != 0x03)
    return false;
  std::size_t length = 0;
  for (std::size_t i = at; i < pieces.size() && !IsWholeFrame(pieces[i]); ++i)
    length += pieces[i].bytes.size();
  return length > 8;  // blocks of 8 bytes or fewer are never decoded
}

bool Reported(const ReplyReader::Result& result, DecodedResponse::Outcome outcome) {
  return std::any_of(result.shown.begin(), result.shown.end(),
                     [outcome](const DecodedResponse& shown) { return shown.outcome == outcome; });
}

}  // namespace

void ReplyReader::Sent(const xcom::ByteString& frame, bool whole, std::size_t queuedBefore) {
  Window window{frame, whole && IsRequest(frame) ? frame : xcom::ByteString{},
                std::max(received_ + queuedBefore, windows_.back().firstByte)};
  windows_.push_back(std::move(window));
}

void ReplyReader::Reset() {
  windows_ = {Window{}};
  received_ = 0;
}

ReplyReader::Result ReplyReader::Read(const xcom::ByteString& block, std::uint8_t slaveAddress,
                                      bool readingOutputs) {
  Result result;
  result.logged = IsLoggedBlock(block);
  const Reading reading{slaveAddress, readingOutputs, result};
  const std::uint64_t end = received_ + block.size();
  for (std::size_t i = 0; i < windows_.size(); ++i) {
    const std::uint64_t windowEnd = i + 1 < windows_.size()
                                        ? windows_[i + 1].firstByte
                                        : std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t from = std::max(windows_[i].firstByte, received_);
    const std::uint64_t to = std::min(windowEnd, end);
    if (from >= to) continue;
    ReadWindow(windows_[i], std::span(block).subspan(from - received_, to - from), reading);
  }
  received_ = end;
  while (windows_.size() > 1 && windows_[1].firstByte <= received_) windows_.pop_front();
  return result;
}

void ReplyReader::ReadWindow(const Window& window, std::span<const std::uint8_t> bytes,
                             const Reading& reading) {
  std::vector<RtuPiece> pieces = SplitRtuBlock(bytes, {&window.frame, 1});
  // A read reply longer than its byte count says, whose CRC holds over all of it, is the module's
  // reply as it stands: the decoder reads its first two registers as from any read reply.
  if (!HoldsWholeFrame(pieces) && bytes.size() > 8 && bytes[1] == 0x03 && HasValidCrc(bytes))
    pieces = {RtuPiece{RtuPiece::Kind::Reply, xcom::ByteString(bytes.begin(), bytes.end())}};
  if (HoldsWholeFrame(pieces)) reading.result.logged = true;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (StartsDamagedReadReply(pieces, i) &&
        !Reported(reading.result, DecodedResponse::Outcome::CrcError)) {
      DecodedResponse damaged;
      damaged.outcome = DecodedResponse::Outcome::CrcError;
      reading.result.shown.push_back(damaged);
    }
    if (pieces[i].kind != RtuPiece::Kind::Reply) continue;
    DecodedResponse shown = ReadReply(window, pieces[i].bytes, reading);
    if (shown.outcome != DecodedResponse::Outcome::Ignored) reading.result.shown.push_back(shown);
  }
}

DecodedResponse ReplyReader::ReadReply(const Window& window, const xcom::ByteString& reply,
                                       const Reading& reading) const {
  const xcom::ByteString& request = window.request;
  if (request.empty()) {
    if (reply[0] != reading.slaveAddress) return {};
    if (IsExceptionFunction(reply[1])) return DecodeExceptionReply(reply);
    return DecodeResponse(reply, reading.readingOutputs ? kReadRelays : kReadInputs);
  }
  // Only a reply of the slave and function asked answers the request.
  if (reply[0] != request[0] || (reply[1] & ~kExceptionFlag) != request[1]) return {};
  if (IsExceptionFunction(reply[1])) return DecodeExceptionReply(reply);
  if (request[1] != 0x03) return {};  // a relay write's reply is only logged
  const RegisterRead* read = ReadStartingAt(StartRegister(request));
  return read != nullptr ? DecodeResponse(reply, *read) : DecodedResponse{};
}

}  // namespace modbus
