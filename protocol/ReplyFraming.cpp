#include "ReplyFraming.h"

#include <algorithm>
#include <cstdio>

#include "ModbusCrc.h"

namespace modbus {

namespace {

using Bytes = std::span<const std::uint8_t>;

bool StartsWith(Bytes bytes, const xcom::ByteString& prefix) {
  return !prefix.empty() && bytes.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// Length of a whole reply with a valid CRC at the start of `rest`, 0 when there is none.
std::size_t ValidReplyAt(Bytes rest) {
  const std::optional<std::size_t> length = ExpectedReplyLength(rest);
  if (!length || *length > rest.size() || !HasValidCrc(rest.first(*length))) return 0;
  return *length;
}

// Length of the echo of a sent frame at the start of `rest`, 0 when there is none.
std::size_t EchoAt(Bytes rest, std::span<const xcom::ByteString> sentFrames) {
  for (const xcom::ByteString& sent : sentFrames) {
    if (!StartsWith(rest, sent)) continue;
    // A copy of a request that is also its own reply is an echo only when the reply follows.
    const bool answersItself = ValidReplyAt(sent) == sent.size();
    if (!answersItself || StartsWith(rest.subspan(sent.size()), sent)) return sent.size();
  }
  return 0;
}

// Whether `tail` (the last bytes of the block) can be the start of a frame still coming.
bool IsCutOff(Bytes tail, std::span<const xcom::ByteString> sentFrames) {
  for (const xcom::ByteString& sent : sentFrames)
    if (tail.size() < sent.size() && std::equal(tail.begin(), tail.end(), sent.begin()))
      return true;
  const std::optional<std::size_t> length = ExpectedReplyLength(tail);
  if (length) return *length > tail.size();
  return tail.size() < 2 || IsKnownReplyFunction(tail[1]);
}

void AddPiece(std::vector<RtuPiece>& pieces, RtuPiece::Kind kind, Bytes bytes) {
  if (kind == RtuPiece::Kind::Noise && !pieces.empty() && pieces.back().kind == kind) {
    pieces.back().bytes.insert(pieces.back().bytes.end(), bytes.begin(), bytes.end());
    return;
  }
  pieces.push_back({kind, xcom::ByteString(bytes.begin(), bytes.end())});
}

// Sorts the bytes between two frames (or between a frame and the end of the block).
void AddUnframed(std::vector<RtuPiece>& pieces, Bytes run, bool atBlockEnd,
                 std::span<const xcom::ByteString> sentFrames) {
  std::size_t at = 0;
  while (at < run.size()) {
    const Bytes rest = run.subspan(at);
    if (atBlockEnd && IsCutOff(rest, sentFrames)) {
      AddPiece(pieces, RtuPiece::Kind::Partial, rest);
      return;
    }
    const std::optional<std::size_t> length = ExpectedReplyLength(rest);
    if (length && *length <= rest.size()) {
      AddPiece(pieces, RtuPiece::Kind::Damaged, rest.first(*length));
      at += *length;
    } else {
      AddPiece(pieces, RtuPiece::Kind::Noise, rest.first(1));
      ++at;
    }
  }
}

std::string Numbered(const char* what, std::uint8_t code) {
  char text[32];
  std::snprintf(text, sizeof text, "%s %02X", what, code);
  return text;
}

}  // namespace

std::vector<RtuPiece> SplitRtuBlock(std::span<const std::uint8_t> block,
                                    std::span<const xcom::ByteString> sentFrames) {
  std::vector<RtuPiece> pieces;
  std::size_t runStart = 0;
  std::size_t at = 0;
  while (at < block.size()) {
    const Bytes rest = block.subspan(at);
    RtuPiece::Kind kind = RtuPiece::Kind::Echo;
    std::size_t length = EchoAt(rest, sentFrames);
    if (length == 0) {
      kind = RtuPiece::Kind::Reply;
      length = ValidReplyAt(rest);
    }
    if (length == 0) {
      ++at;
      continue;
    }
    AddUnframed(pieces, block.subspan(runStart, at - runStart), false, sentFrames);
    AddPiece(pieces, kind, rest.first(length));
    at += length;
    runStart = at;
  }
  AddUnframed(pieces, block.subspan(runStart), true, sentFrames);
  return pieces;
}

bool HoldsWholeFrame(const std::vector<RtuPiece>& pieces) {
  return std::any_of(pieces.begin(), pieces.end(), [](const RtuPiece& piece) {
    return piece.kind == RtuPiece::Kind::Reply || piece.kind == RtuPiece::Kind::Echo;
  });
}

std::string ExceptionCodeText(std::uint8_t code) {
  switch (code) {
    case kIllegalFunction:
      return "illegal function";
    case kIllegalDataAddress:
      return "illegal data address";
    case kIllegalDataValue:
      return "illegal data value";
    case kSlaveDeviceFailure:
      return "slave device failure";
    case 0x05:
      return "acknowledge";
    case 0x06:
      return "slave device busy";
    case 0x08:
      return "memory parity error";
    case 0x0A:
      return "gateway path unavailable";
    case 0x0B:
      return "gateway target device failed to respond";
    default:
      return Numbered("exception code", code);
  }
}

std::string FunctionCodeText(std::uint8_t function) {
  const auto base = static_cast<std::uint8_t>(function & ~kExceptionFlag);
  switch (base) {
    case 0x01:
      return "read coils";
    case 0x02:
      return "read discrete inputs";
    case 0x03:
      return "read holding registers";
    case 0x04:
      return "read input registers";
    case 0x05:
      return "write single coil";
    case 0x06:
      return "write single register";
    case 0x0F:
      return "write multiple coils";
    case 0x10:
      return "write multiple registers";
    default:
      return Numbered("function", base);
  }
}

}  // namespace modbus
