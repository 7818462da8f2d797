#pragma once
// The device structures of the serial port component (control block, time-outs, properties,
// status): on Windows they are the system's own, so a caller needs the headers that declare
// them, and no more: <windef.h> and <winbase.h>, not <windows.h> with its windows, messages and
// drawing (and their macros, such as SendMessage or DrawText, which rename a caller's own
// functions). The component's own Windows code includes <windows.h> itself (WinTypes.h).

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windef.h>
// After <windef.h>, whose types it uses.
#include <winbase.h>
