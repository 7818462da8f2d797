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
    case xcom::OpenFailure::BadNetworkName:
      return QStringLiteral(
                 "网络端口名称不对：%1。请写成 tcp://主机:端口 或 rfc2217://主机:端口，"
                 "IPv6 地址写成 [地址]:端口。")
          .arg(name);
    case xcom::OpenFailure::HostUnknown:
      return QStringLiteral("找不到主机：%1 中的主机名无法解析。请检查名称，或直接写 IP 地址。")
          .arg(name);
    case xcom::OpenFailure::ConnectionRefused:
      return QStringLiteral(
                 "连接被拒绝：%1 的端口上没有服务在监听。请检查端口号，并确认串口服务器在运行。")
          .arg(name);
    case xcom::OpenFailure::HostUnreachable:
      return QStringLiteral("主机不可达：到 %1 没有网络路径。请检查地址和网络连接。").arg(name);
    case xcom::OpenFailure::ConnectTimedOut:
      return QStringLiteral("连接超时：%1 的服务器没有应答。请检查地址、网络以及防火墙设置。")
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
    case xcom::OpenFailure::BadNetworkName:
      return QStringLiteral("名称不对");
    case xcom::OpenFailure::HostUnknown:
      return QStringLiteral("找不到主机");
    case xcom::OpenFailure::ConnectionRefused:
      return QStringLiteral("连接被拒绝");
    case xcom::OpenFailure::HostUnreachable:
      return QStringLiteral("主机不可达");
    case xcom::OpenFailure::ConnectTimedOut:
      return QStringLiteral("连接超时");
    case xcom::OpenFailure::Other:
    case xcom::OpenFailure::None:
      break;
  }
  return QStringLiteral("打开失败");
}
