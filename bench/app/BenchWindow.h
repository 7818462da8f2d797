#pragma once
// What the window's benchmarks share: running the event loop for a while, and the window with
// its port open and auto-read on.

#include <QString>

class TfrmRTUTest;

// Runs the event loop for `milliseconds` (timers, the receive poll and the auto-read run).
void RunLoop(int milliseconds);

// Processes events for `milliseconds` without entering the event loop.
void Pump(int milliseconds);

// Types `port`, clicks "打开串口" and runs until the module has answered the control-mode frame.
// False (with a message on stderr) when the port did not open.
bool OpenQuietly(TfrmRTUTest& window, const QString& port);

// Checks "自动读取 " and runs until the first read-all is under way.
void StartAutoRead(TfrmRTUTest& window);

// Types `port`, clicks "打开串口", checks "自动读取 " and runs until the first read-all is under
// way. False (with a message on stderr) when the port did not open.
bool OpenWithAutoRead(TfrmRTUTest& window, const QString& port);
