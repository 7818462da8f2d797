#include "OpenedText.h"

#include <QStringList>

namespace {

QString UnconfirmedNames(std::uint32_t unconfirmed) {
  struct Name {
    std::uint32_t bit;
    const char16_t* text;
  };
  static const Name kNames[] = {
      {xcom::kSettingRate, u"波特率"},      {xcom::kSettingDataSize, u"数据位"},
      {xcom::kSettingParity, u"校验"},      {xcom::kSettingStopSize, u"停止位"},
      {xcom::kSettingFlowControl, u"流控"}, {xcom::kSettingModemLines, u"DTR/RTS"}};
  QStringList names;
  for (const Name& name : kNames)
    if ((unconfirmed & name.bit) != 0) names << QString::fromUtf16(name.text);
  return names.join(QStringLiteral("、"));
}

}  // namespace

QString OpenedText(const TPortTexts& texts, const xcom::LineSettingsReport& settings) {
  if (settings.outcome == xcom::LineSettingsOutcome::ServerOwned)
    return texts.port + QStringLiteral("打开成功,波特率和参数由服务器设定");
  QString text = texts.port + QStringLiteral("打开成功,BaudRate=") + texts.baud +
                 QStringLiteral(",参数=") + texts.format;
  if (settings.outcome == xcom::LineSettingsOutcome::Unconfirmed)
    text += QStringLiteral(",服务器未确认:") + UnconfirmedNames(settings.unconfirmed);
  return text;
}
