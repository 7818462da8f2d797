#include "LineState.h"

QString LineStateText(TLineState state) {
  switch (state) {
    case TLineState::Closed:
      return QStringLiteral("未打开");
    case TLineState::Open:
      return QStringLiteral("已打开");
    case TLineState::Lost:
      return QStringLiteral("设备已断开");
    case TLineState::Reopened:
      return QStringLiteral("已重新打开");
  }
  return QString();
}
