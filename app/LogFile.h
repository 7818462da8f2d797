#pragma once
// The log kept on disk as it is shown (--log-file): every line appended to the pane is appended
// to the file as UTF-8 and written at once, so a crash or a power cut loses nothing that was on
// screen. A file that cannot be opened or written (a full disk, a FIFO whose reader left) is
// reported once and dropped, and the window goes on. Opening never waits for a FIFO's reader.

#include <QFile>
#include <QString>
#include <functional>

class TLogFile {
 public:
  using FailureReport = std::function<void(const QString& sentence)>;
  TLogFile(const QString& path, FailureReport report);

  void Append(const QString& line);
  bool Failed() const { return failed_; }

 private:
  void Fail(const QString& why);
  QFile file_;
  FailureReport report_;
  bool failed_ = false;
};

// Why `path` may not take the log: empty for a regular file (or none yet), a FIFO and the
// standard output or error; the sentence to report for anything else (a terminal such as the
// module's own line, /dev/ptmx, other devices).
QString LogFileRefusal(const QString& path);

// Writes `lines` to `path` as UTF-8, one line per line, replacing a regular file only; false
// (with `error` set) on failure.
bool SaveLogLines(const QString& path, const QStringList& lines, QString& error);

// rtutest-YYYYMMDD-HHMMSS.log in the home folder, for the current local time.
QString DefaultSavedLogPath();
