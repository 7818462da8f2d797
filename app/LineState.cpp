#include "LineState.h"

#include "XComDrv.h"

QString LineStateText(LineState state) {
  switch (state) {
    case LineState::Closed:
      return QStringLiteral("未打开");
    case LineState::Open:
      return QStringLiteral("已打开");
    case LineState::Lost:
      return QStringLiteral("设备已断开");
    case LineState::Reopened:
      return QStringLiteral("已重新打开");
  }
  return QString();
}

QString OpenFailureShortText(const xcom::OpenFailureInfo& failure, bool settingRefused) {
  if (settingRefused) return QStringLiteral("设置被拒绝");
  switch (failure.reason) {
    case xcom::OpenFailure::NoSuchDevice:
      return QStringLiteral("没有这个设备");
    case xcom::OpenFailure::PermissionDenied:
      return QStringLiteral("权限不足");
    case xcom::OpenFailure::Busy:
      return QStringLiteral("串口忙");
    case xcom::OpenFailure::NotSerialDevice:
      return QStringLiteral("不是串口");
    case xcom::OpenFailure::Other:
    case xcom::OpenFailure::None:
      break;
  }
  return QStringLiteral("打开失败");
}

QString ReadBackSettingsText(xcom::TXComm& comm) {
  using namespace xcom;
  const TDataBits bits = comm.DataControl().DataBits();
  const TParity parity = comm.DataControl().Parity();
  const TStopBits stop = comm.DataControl().StopBits();
  const QChar parityLetter = parity == paEven    ? QLatin1Char('E')
                             : parity == paOdd   ? QLatin1Char('O')
                             : parity == paMark  ? QLatin1Char('M')
                             : parity == paSpace ? QLatin1Char('S')
                                                 : QLatin1Char('N');
  const QString stopBits = stop == sb2     ? QStringLiteral("2")
                           : stop == sb1p5 ? QStringLiteral("1.5")
                                           : QStringLiteral("1");
  return QStringLiteral("设备实际：%1 波特，%2%3%4")
      .arg(comm.BaudValue())
      .arg(static_cast<int>(bits) + 4)
      .arg(parityLetter)
      .arg(stopBits);
}
