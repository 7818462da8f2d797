#pragma once
// Keeping the log: "保存日志…" in the log pane's context menu and Ctrl+S save the pane's lines
// to a file the operator picks; --log-file appends every line as it is shown.

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;
class TLogPane;

// The pane's save request and Ctrl+S in `window` ask for a file and save the pane's lines.
void InstallLogSaving(QWidget& window, const TLogPane& pane);

// Saves `lines` to `path`; an error is shown in a message box over `parent`. True when saved.
bool SaveLogText(QWidget& parent, const QStringList& lines, const QString& path);

// What appends each later log line to `path`, or nothing when the file is refused. A file that
// cannot be written is reported once, on standard error and to `addNote`; so is a full disk.
std::function<void(const QString&)> LogFileAppender(
    const QString& path, const std::function<void(const QString&)>& addNote);
