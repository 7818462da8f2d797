#pragma once
// The log kept on disk as it is shown (--log-file): every line appended to the pane is appended
// to the file as UTF-8 and written at once, so a crash or a power cut loses nothing that was on
// screen. Only whole lines reach the file: a full disk keeps the lines in memory and they are
// written, in order, once there is room again. A file that cannot take the log (refused, deleted
// while written, failing) is reported once and dropped, and the window goes on. Opening never
// waits for a FIFO's reader.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

#include "LogTarget.h"

class TLogFile {
 public:
  using FailureReport = std::function<void(const QString& sentence)>;
  TLogFile(const QString& path, FailureReport report);

  void Append(const QString& line);
  bool Failed() const { return failed_; }

 private:
  void WriteWaiting();
  void Fail(const QString& why);
  QString path_;
  TLogTarget target_;
  FailureReport report_;
  QByteArray waiting_;  // whole lines not in the file yet: the disk was full
  bool failed_ = false;
  bool toldFull_ = false;
};

// Writes `lines` to `path` as UTF-8, one line per line, replacing a regular file only, in one
// step (a full disk leaves the old file as it was); false (with `error` set) on failure.
bool SaveLogLines(const QString& path, const QStringList& lines, QString& error);

// rtutest-YYYYMMDD-HHMMSS.log in the home folder, for the current local time.
QString DefaultSavedLogPath();
