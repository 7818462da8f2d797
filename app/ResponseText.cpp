#include "ResponseText.h"

#include "HexText.h"
#include "ReplyFraming.h"

namespace {

std::vector<TChannelText> ChannelTexts(const modbus::DecodedResponse& decoded) {
  const bool outputs = decoded.block == modbus::ReadBlock::Outputs;
  const QString label = outputs ? QStringLiteral("DO%1=") : QStringLiteral("DI%1=");
  const int firstRow = outputs ? kRowDO0 : kRowDI0;
  std::vector<TChannelText> channels;
  for (const std::uint16_t whole : {decoded.registers.first, decoded.registers.second}) {
    const int k = static_cast<int>(channels.size()) + 1;
    const QString value = QString::fromStdString(modbus::BytesToHexText({modbus::LowByte(whole)}));
    channels.push_back({label.arg(k) + value, firstRow + k - 1, value});
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
    case Outcome::Ignored:
      break;
  }
  return {};
}
