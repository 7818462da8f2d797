#pragma once
// The log kept on disk as it is shown (--log-file): every line appended to the pane is appended
// to the file as UTF-8 and flushed at once, so a crash or a power cut loses nothing that was on
// screen. A file that cannot be opened or written is reported once, and the window goes on.

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
  void Fail();
  QFile file_;
  FailureReport report_;
  bool failed_ = false;
};

// Writes `lines` to `path` as UTF-8, one line per line; false (with `error` set) on failure.
bool SaveLogLines(const QString& path, const QStringList& lines, QString& error);

// rtutest-YYYYMMDD-HHMMSS.log in the home folder, for the current local time.
QString DefaultSavedLogPath();
