#include "ReplyReader.h"

#include <algorithm>

#include "ModbusCrc.h"
#include "ReplyFraming.h"

namespace modbus {

namespace {

bool IsRequest(const xcom::ByteString& frame) {
  // Broadcasts (address 0) get no reply.
  return frame.size() >= 4 && frame[0] != 0 && IsKnownReplyFunction(frame[1]) &&
         !IsExceptionFunction(frame[1]) && HasValidCrc(frame);
}

std::uint16_t Word(const xcom::ByteString& frame, std::size_t at) {
  return static_cast<std::uint16_t>(frame[at] << 8 | frame[at + 1]);
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

}  // namespace

void ReplyReader::Sent(const xcom::ByteString& frame, bool whole, std::size_t queuedBefore,
                       Clock::time_point at) {
  const std::uint64_t firstByte =
      std::max(received_ + queuedBefore, departures_.empty() ? 0 : departures_.back().firstByte);
  departures_.push_back({frame, firstByte, ledger_.Sends()});
  if (whole && IsRequest(frame)) ledger_.Sent(frame, at);
}

void ReplyReader::Reset() {
  ledger_.Reset();
  departures_.clear();
  received_ = 0;
}

std::size_t ReplyReader::RequestsSentBefore(std::uint64_t byte) const {
  for (const Departure& departure : departures_)
    if (departure.firstByte > byte) return departure.requestsBefore;
  return ReplyLedger::kAnySent;
}

ReplyReader::Result ReplyReader::Read(const xcom::ByteString& block, const ReadPhase& phase,
                                      Clock::time_point at) {
  Result result;
  result.logged = IsLoggedBlock(block);
  std::vector<xcom::ByteString> frames;
  for (const Departure& departure : departures_) frames.push_back(departure.frame);
  std::vector<RtuPiece> pieces = SplitRtuBlock(block, frames);
  // A read reply longer than its byte count says, whose CRC holds over all of it, is the module's
  // reply as it stands: the decoder reads its first two registers as from any read reply.
  if (!HoldsWholeFrame(pieces) && block.size() > 8 && block[1] == 0x03 && HasValidCrc(block))
    pieces = {RtuPiece{RtuPiece::Kind::Reply, block}};
  if (HoldsWholeFrame(pieces)) result.logged = true;
  std::uint64_t byte = received_;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const xcom::ByteString& bytes = pieces[i].bytes;
    if (StartsDamagedReadReply(pieces, i) &&
        std::none_of(result.shown.begin(), result.shown.end(), [](const DecodedResponse& shown) {
          return shown.outcome == DecodedResponse::Outcome::CrcError;
        })) {
      DecodedResponse damaged;
      damaged.outcome = DecodedResponse::Outcome::CrcError;
      result.shown.push_back(damaged);
    }
    if (pieces[i].kind == RtuPiece::Kind::Reply) {
      const ReplyLedger::Attribution attribution =
          ledger_.Take(bytes, at, RequestsSentBefore(byte));
      const DecodedResponse shown = Shown(attribution, bytes, phase);
      if (shown.outcome != DecodedResponse::Outcome::Ignored) result.shown.push_back(shown);
    } else if (pieces[i].kind == RtuPiece::Kind::Damaged) {
      ledger_.TakeDamaged(at);  // a reply all the same: it answers the first request owed one
    } else if (pieces[i].kind != RtuPiece::Kind::Echo) {
      ledger_.Heard(at);
    }
    byte += bytes.size();
  }
  received_ = byte;
  // Departures whose bytes have all come are needed no more, but for the last (its echo).
  while (departures_.size() > 1 && departures_[1].firstByte <= received_) departures_.pop_front();
  if (block.empty()) ledger_.GiveUpIfQuiet(at);
  return result;
}

DecodedResponse ReplyReader::Shown(const ReplyLedger::Attribution& attribution,
                                   const xcom::ByteString& reply, const ReadPhase& phase) const {
  if (attribution.verdict == ReplyLedger::Verdict::Unasked && ledger_.Sends() == 0 &&
      reply[0] == phase.slaveAddress) {
    if (IsExceptionFunction(reply[1])) return DecodeExceptionReply(reply);
    return DecodeResponse(reply, phase.readingOutputs ? kReadRelays : kReadInputs);
  }
  if (attribution.verdict == ReplyLedger::Verdict::InDoubt) {
    DecodedResponse inDoubt;
    inDoubt.outcome = DecodedResponse::Outcome::InDoubt;
    return inDoubt;
  }
  if (attribution.verdict != ReplyLedger::Verdict::Answers) return {};
  const xcom::ByteString& request = attribution.request;
  if (IsExceptionFunction(reply[1])) return DecodeExceptionReply(reply);
  if (request[1] != 0x03) return {};  // a relay write's reply is only logged
  const RegisterRead* read = ReadOf(Word(request, 2), Word(request, 4));
  return read != nullptr ? DecodeResponse(reply, *read) : DecodedResponse{};
}

}  // namespace modbus
