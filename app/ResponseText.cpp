#include "ResponseText.h"

#include "HexText.h"
#include "ReplyFraming.h"

namespace {

// The list holds the first two channels of the inputs and of the relays, as the design lays
// it out; any other channel shows in the log only.
int RowOf(std::uint16_t reg) {
  constexpr int kListedChannels = 2;
  const struct {
    std::uint16_t start;
    int firstRow;
  } listed[] = {{modbus::kInputBlockRegister, kRowDI0}, {modbus::kOutputBlockRegister, kRowDO0}};
  for (const auto& block : listed)
    if (reg >= block.start && reg < block.start + kListedChannels)
      return block.firstRow + (reg - block.start);
  return kNoRow;
}

std::vector<TChannelText> ChannelTexts(const modbus::DecodedResponse& decoded) {
  std::vector<TChannelText> channels;
  for (std::size_t i = 0; i < decoded.registers.size(); ++i) {
    const auto reg = static_cast<std::uint16_t>(decoded.read.start + i);
    const QString value =
        QString::fromStdString(modbus::BytesToHexText({modbus::LowByte(decoded.registers[i])}));
    const QString name = QString::fromStdString(modbus::ChannelName(reg));
    channels.push_back({name + QLatin1Char('=') + value, RowOf(reg), value});
  }
  return channels;
}

// "异常应答：功能码10 (write multiple registers)，异常码02 (illegal data address)"
QString RefusalLine(const modbus::DecodedResponse& decoded) {
  using namespace modbus;
  return QString::fromStdString("异常应答：功能码" + ByteToHex(decoded.function) + " (" +
                                FunctionCodeText(decoded.function) + ")，异常码" +
                                ByteToHex(decoded.exceptionCode) + " (" +
                                ExceptionCodeText(decoded.exceptionCode) + ")");
}

}  // namespace

TResponseText ResponseText(const modbus::DecodedResponse& decoded) {
  using Outcome = modbus::DecodedResponse::Outcome;
  switch (decoded.outcome) {
    case Outcome::CrcError:
      return {QString::fromUtf8(kCrcErrorLine), {}};
    case Outcome::Decoded:
      return {QString(), ChannelTexts(decoded)};
    case Outcome::Refused:
      return {RefusalLine(decoded), {}};
    case Outcome::InDoubt:
      return {QString::fromUtf8(kReplyInDoubtLine), {}};
    case Outcome::Ignored:
      break;
  }
  return {};
}
