#include "LogTargetKind.h"

QString RefusalOf(TLogTargetKind kind, TLogTarget::TUse use) {
  if (kind == TLogTargetKind::DiskFile) return QString();
  // The save writes a new file in the target's place: only a file can be put there.
  if (use == TLogTarget::TUse::Replace) return QStringLiteral("它不是普通文件，不能被日志替换");
  switch (kind) {
    case TLogTargetKind::PipeOrStream:
      return QString();
    case TLogTargetKind::KernelSetting:
      return QStringLiteral("它是系统内核的设置，不是普通文件");
    default:
      return QStringLiteral("它不是普通文件、管道或标准输出");
  }
}
