#include "LogFile.h"

#include <QDateTime>
#include <QDir>
#include <QSaveFile>

TLogFile::TLogFile(const QString& path, FailureReport report)
    : file_(path), report_(std::move(report)) {
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) Fail();
}

void TLogFile::Append(const QString& line) {
  if (failed_) return;
  const QByteArray bytes = line.toUtf8() + '\n';
  if (file_.write(bytes) != bytes.size() || !file_.flush()) Fail();
}

void TLogFile::Fail() {
  failed_ = true;
  if (report_)
    report_(QStringLiteral("无法写入日志文件 “%1”：%2。日志只显示在窗口中。")
                .arg(file_.fileName(), file_.errorString()));
}

bool SaveLogLines(const QString& path, const QStringList& lines, QString& error) {
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
