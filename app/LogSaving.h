#pragma once
// Keeping the log: "保存日志…" in the log pane's context menu and Ctrl+S save the pane's lines
// to a file the operator picks; --log-file appends every line as it is shown.

#include <QString>

class TfrmRTUTest;

void InstallLogSaving(TfrmRTUTest& window);

// Saves the log pane's lines to `path`; an error is shown in a message box. True when saved.
bool SaveLogPane(TfrmRTUTest& window, const QString& path);

// Appends every later log line to `path`. A file that cannot be written is reported once, on
// standard error and in panel 0's tooltip.
void KeepLogFile(TfrmRTUTest& window, const QString& path);
