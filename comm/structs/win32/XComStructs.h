#pragma once
// The device structures of the serial port component (control block, time-outs, properties,
// status): on Windows they are the system's own.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
