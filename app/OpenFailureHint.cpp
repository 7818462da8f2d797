#include "OpenFailureHint.h"

#include <QTextDocument>

#include "PermissionRemedy.h"

namespace {

// The name as the hint quotes it: a name of thousands of characters would make a tooltip
// wider than any screen, and control characters would break its lines.
QString Quoted(const QString& deviceName) {
  constexpr int kLongest = 60;
  QString shown;
  for (const QChar c : deviceName.left(kLongest))
    shown += c.category() == QChar::Other_Control ? QChar(0xFFFD) : c;
  if (deviceName.size() > kLongest) shown += QStringLiteral("…");
  return QStringLiteral("“") + shown + QStringLiteral("”");
}

QString SystemText(const xcom::OpenFailureInfo& failure) {
  const QString text = QString::fromLocal8Bit(xcom::OpenFailureSystemText(failure)).trimmed();
  return text.isEmpty() ? QStringLiteral("系统错误 %1").arg(failure.systemError) : text;
}

// Which advice: hints::PermissionRemedyFor, shared with kestrum.
QString PermissionHint(const QString& name, const xcom::OpenFailureInfo& failure) {
  switch (hints::PermissionRemedyFor(failure)) {
    case hints::PermissionRemedy::JoinDialoutGroup:
      return QStringLiteral(
                 "权限不足：不允许打开串口 %1。当前用户可能需要加入 dialout 组"
                 "（sudo usermod -aG dialout 用户名，然后重新登录）。")
          .arg(name);
    case hints::PermissionRemedy::RunAsPermittedUser:
      return QStringLiteral("权限不足：不允许打开串口 %1。请以有权限的用户运行本程序。").arg(name);
    case hints::PermissionRemedy::AskTheOwner:
      break;
  }
  return QStringLiteral(
             "权限不足：不允许打开串口 %1。这个设备属于另一个用户%2，只有该用户或管理员能打开它。")
      .arg(name, QStringLiteral("（%1）").arg(QString::fromStdString(failure.deviceOwner)));
}

}  // namespace

QString OpenFailureHint(const QString& deviceName, const xcom::OpenFailureInfo& failure) {
  const QString name = Quoted(deviceName);
  switch (failure.reason) {
    case xcom::OpenFailure::NoSuchDevice:
      return QStringLiteral(
                 "没有这个设备：找不到串口 %1。请检查串口名称，并确认串口或 USB "
                 "转换器已经插好。")
          .arg(name);
    case xcom::OpenFailure::PermissionDenied:
      return PermissionHint(name, failure);
    case xcom::OpenFailure::Busy:
      return QStringLiteral("串口忙：%1 已被另一个程序打开。请先关闭那个程序，再点“打开串口”。")
          .arg(name);
    case xcom::OpenFailure::NotSerialDevice:
      return QStringLiteral(
                 "不是串口设备：%1 不是串口（例如普通文件、文件夹或 /dev/null）。"
                 "请输入串口设备的名称。")
          .arg(name);
    case xcom::OpenFailure::Other:
      return QStringLiteral("无法打开串口 %1：%2。").arg(name, SystemText(failure));
    case xcom::OpenFailure::None:
      break;
  }
  return QStringLiteral("无法打开串口 %1。").arg(name);
}

QString OpenErrorHint(const QString& deviceName, bool deviceOpen, const std::string& message) {
  const QString name = Quoted(deviceName);
  const QString what = QString::fromStdString(message);
  if (deviceOpen)
    return QStringLiteral(
               "串口 %1 已打开，但设备不接受所选的设置：%2 请换一个波特率或参数，"
               "再点“打开串口”。")
        .arg(name, what);
  return QStringLiteral("无法打开串口 %1：%2").arg(name, what);
}

QString HintAsToolTip(const QString& hint) {
  return hint.isEmpty() ? QString() : Qt::convertFromPlainText(hint, Qt::WhiteSpaceNormal);
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
