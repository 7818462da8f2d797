#pragma once
// Puts what the command line asked for into the window at start: the texts of the port,
// baud-rate, format and slave-address boxes, and a click on "打开串口" once the window shows.

#include "ProgramOptions.h"

class TfrmRTUTest;

// Before the window is shown: the boxes' texts (the slave address is applied as a click on
// "确定" would apply it, so the box and the frames agree).
void ApplyStartOptions(TfrmRTUTest& window, const TProgramOptions& options);

// Once the window is shown: clicks "打开串口" from the event loop when --open was given.
void ScheduleStartActions(TfrmRTUTest& window, const TProgramOptions& options);
