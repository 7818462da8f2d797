#pragma once
// What an opened log target is, as each system's own calls tell it (LogTargetPosix.cpp,
// LogTargetWin32.cpp), and the one rule of which kinds take a log.

#include <QString>

#include "LogTarget.h"

enum class TLogTargetKind {
  DiskFile,       // a regular file on a disk's file system
  PipeOrStream,   // a FIFO (a named pipe), or the standard output or error
  KernelSetting,  // a "file" of the kernel's own file systems (/proc, /sys and the like)
  Device          // a terminal, a COM port, the console, NUL or any other device
};

// Why a target of `kind` may not take a log for `use`; empty when it may.
QString RefusalOf(TLogTargetKind kind, TLogTarget::TUse use);
