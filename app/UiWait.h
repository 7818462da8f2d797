#pragma once
// The UI thread's two ways of waiting inside a command.
//
// WaitMilliseconds: the command's sleep. Its length is kept, and nothing of the command's own
// world runs during it: no timer tick (the receive poll and the auto-read run only where the
// command pumps), no keystroke or click (they wait, queued, for the next pump), no socket
// notifier. What does run is the window system's side of things: repaints, exposes, resizes,
// and the answers a window manager asks for (_NET_WM_PING), so the window neither freezes on
// screen nor is taken for hung.
//
// PumpPendingEvents: processes every pending event once, timer ticks and user input included.
//
// Both note that a command is waiting, so that work which must not run in the middle of a
// command (closing a lost device, reopening one) can wait for the idle loop.

#include "SessionWaits.h"

void WaitMilliseconds(int milliseconds);
void PumpPendingEvents();

// True while a WaitMilliseconds or PumpPendingEvents is on the stack.
bool InsideCommandWait();

// The session's waits on the UI thread: the two above.
TSessionWaits& UiThreadWaits();
