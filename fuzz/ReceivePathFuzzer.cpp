// Arbitrary received blocks through the receive-poll rules, the RTU framing, the reply reader
// and the reply decoder, in both read phases, checking what the window relies on.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "HexText.h"
#include "ModbusCrc.h"
#include "ReplyFraming.h"
#include "ReplyReader.h"
#include "RequestFrames.h"
#include "ResponseDecoder.h"

using namespace modbus;  // the protocol layer

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckBlock(const xcom::ByteString& block, const RegisterRead& read) {
  bool printable = false;
  for (std::uint8_t b : block) printable = printable || b > 0x20;
  Check(IsLoggedBlock(block) == printable);
  Check(BytesToHexText(block).size() == 3 * block.size());
  const DecodedResponse r = DecodeResponse(block, read);
  if (!IsDecodedBlock(block) || block[1] != 0x03) {
    // The reply reader hands the decoder whole replies of any length: a short one (a relay or
    // exception reply), like one of another function, changes nothing.
    Check(r == DecodedResponse{});
    return;
  }
  if (!HasValidCrc(block)) {
    Check(r.outcome == DecodedResponse::Outcome::CrcError && r.registers.empty());
    return;
  }
  // Values come only from a valid reply: the registers at bytes 3..6, for the read given.
  Check(r.outcome == DecodedResponse::Outcome::Decoded);
  Check(r.read == read && r.registers.size() == 2);
  Check(r.registers[0] == (block[3] << 8 | block[4]));
  Check(r.registers[1] == (block[5] << 8 | block[6]));
}

// The pieces of a block give back the block, and every reply is whole with a valid CRC.
void CheckFraming(const xcom::ByteString& block) {
  const xcom::ByteString request = ReadRequest(100, kReadInputs);
  xcom::ByteString joined;
  for (const RtuPiece& piece : SplitRtuBlock(block, {&request, 1})) {
    Check(!piece.bytes.empty());
    joined.insert(joined.end(), piece.bytes.begin(), piece.bytes.end());
    if (piece.kind != RtuPiece::Kind::Reply) continue;
    Check(ExpectedReplyLength(piece.bytes) == piece.bytes.size() && HasValidCrc(piece.bytes));
  }
  Check(joined == block);
  ReplyReader reader;
  reader.Sent(request, true, block.size() / 2);
  const ReplyReader::Result result = reader.Read(block);
  Check(!IsLoggedBlock(block) || result.logged);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const xcom::ByteString block(data, data + size);
  CheckBlock(block, kReadInputs);
  CheckBlock(block, kReadRelays);
  CheckFraming(block);
  // The same bytes with a correct CRC appended reach the decoding branch as well.
  if (size >= 7) {
    const xcom::ByteString framed = WithCrc(block);
    CheckBlock(framed, kReadInputs);
    CheckBlock(framed, kReadRelays);
    CheckFraming(framed);
  }
  return 0;
}
