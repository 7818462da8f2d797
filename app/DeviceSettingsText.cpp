#include "DeviceSettingsText.h"

#include "XComDrv.h"

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
