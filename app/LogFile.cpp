#include "LogFile.h"

#include <QDateTime>
#include <QDir>
#include <QSaveFile>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;

fs::file_type KindOf(const QString& path) {
  std::error_code error;
  return fs::status(path.toStdString(), error).type();
}

// The standard output or error under any of its names (/dev/stdout, /proc/self/fd/2, the
// terminal or pipe it is).
bool IsStandardStream(const QString& path) {
  for (const char* stream : {"/dev/stdout", "/dev/stderr"}) {
    std::error_code error;
    if (fs::equivalent(path.toStdString(), stream, error)) return true;
  }
  return false;
}

// Why a write failed, in words; a full disk says so rather than "Unknown error".
QString WriteFailure(int error, const QString& fallback) {
  if (error == ENOSPC) return QStringLiteral("磁盘已满");
  if (error == EPIPE) return QStringLiteral("读取端已关闭");
  if (error != 0) return QString::fromStdString(std::generic_category().message(error));
  return fallback;
}

}  // namespace

QString LogFileRefusal(const QString& path) {
  const fs::file_type kind = KindOf(path);
  if (kind == fs::file_type::not_found || kind == fs::file_type::regular ||
      kind == fs::file_type::fifo || IsStandardStream(path))
    return QString();
  return QStringLiteral(
             "无法写入日志文件 “%1”：它不是普通文件、管道或标准输出。日志只显示在窗口中。")
      .arg(path);
}

TLogFile::TLogFile(const QString& path, FailureReport report)
    : file_(path), report_(std::move(report)) {
#ifdef SIGPIPE
  // A reader that goes away is a failed write to report, not the end of the program.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  // A FIFO opened for writing alone waits for a reader, and the window would not appear.
  // Opened for reading and writing first, it has one (this process) while the write-only open
  // takes place; a FIFO that nobody reads then refuses the first line, which is reported.
  const fs::file_type kind = KindOf(path);
  QFile reader(path);
  if (kind == fs::file_type::fifo) reader.open(QIODevice::ReadWrite);
  // Unbuffered: every line reaches the file at once, and a failed write tells its own reason.
  // Only a file can be appended to; a stream has no end to seek.
  const bool file = kind == fs::file_type::regular || kind == fs::file_type::not_found;
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Unbuffered |
                  (file ? QIODevice::Append : QIODevice::NotOpen)))
    Fail(file_.errorString());
}

void TLogFile::Append(const QString& line) {
  if (failed_) return;
  const QByteArray bytes = line.toUtf8() + '\n';
  errno = 0;
  if (file_.write(bytes) != bytes.size()) Fail(WriteFailure(errno, file_.errorString()));
}

void TLogFile::Fail(const QString& why) {
  failed_ = true;
  file_.close();
  if (report_)
    report_(QStringLiteral("无法写入日志文件 “%1”：%2。日志只显示在窗口中。")
                .arg(file_.fileName(), why));
}

bool SaveLogLines(const QString& path, const QStringList& lines, QString& error) {
  // The save replaces the file: only a regular file may be replaced, never a device node or a
  // FIFO that happens to carry the name.
  const fs::file_type kind = KindOf(path);
  if (kind != fs::file_type::not_found && kind != fs::file_type::regular) {
    error = QStringLiteral("它不是普通文件，不能被日志替换");
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
