#include "LogFile.h"

#include <QDateTime>
#include <QDir>
#include <QSaveFile>

namespace {

// Lines held back by a full disk, at most: beyond it the log is given up rather than the
// memory.
constexpr qsizetype kMostWaitingBytes = 8 * 1024 * 1024;

}  // namespace

TLogFile::TLogFile(const QString& path, FailureReport report)
    : path_(QDir::toNativeSeparators(path)),
      target_(path, TLogTarget::TUse::Append),
      report_(std::move(report)) {
  if (!target_.IsOpen()) Fail(target_.Refusal());
}

void TLogFile::Append(const QString& line) {
  if (failed_) return;
  if (target_.Deleted()) return Fail(QStringLiteral("它已被删除"));
  waiting_ += line.toUtf8() + '\n';
  WriteWaiting();
}

void TLogFile::WriteWaiting() {
  std::size_t taken = 0;
  QString why;
  const TLogTarget::TWritten written = target_.Write(waiting_, taken, why);
  waiting_.remove(0, qsizetype(taken));
  if (written == TLogTarget::TWritten::Failed) return Fail(why);
  if (written == TLogTarget::TWritten::All) {
    toldFull_ = false;
    return;
  }
  if (waiting_.size() > kMostWaitingBytes) return Fail(why + QStringLiteral("，未写入的行太多"));
  if (toldFull_ || !report_) return;
  toldFull_ = true;
  report_(QStringLiteral("日志文件 “%1” 暂时写不下：%2。之后的行先留在内存中，有空间时补写。")
              .arg(path_, why));
}

void TLogFile::Fail(const QString& why) {
  failed_ = true;
  waiting_.clear();
  if (report_)
    report_(QStringLiteral("无法写入日志文件 “%1”：%2。日志只显示在窗口中。").arg(path_, why));
}

bool SaveLogLines(const QString& path, const QStringList& lines, QString& error) {
  // The save replaces the file: only a regular file may be replaced, never a device node, a
  // FIFO or a kernel setting that happens to carry the name. The new file is written beside it
  // and put in its place, so the name is not written through.
  if (const TLogTarget existing(path, TLogTarget::TUse::Replace); !existing.Refusal().isEmpty()) {
    error = existing.Refusal();
    return false;
  }
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly)) {
    for (const QString& line : lines) file.write(line.toUtf8() + '\n');
    if (file.commit()) return true;
  }
  error = file.errorString();
  return false;
}

QString DefaultSavedLogPath() {
  return QDir::home().filePath(
      QDateTime::currentDateTime().toString(QStringLiteral("'rtutest-'yyyyMMdd-HHmmss'.log'")));
}
