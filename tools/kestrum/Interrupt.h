#pragma once
// Ctrl-C, SIGTERM and SIGHUP (on Windows: Ctrl-C, Ctrl-Break and a closed console) end kestrum
// cleanly: the handler only raises a flag that every port's thread polls, so each closes its
// port (and restores its settings) before the program ends. A second Ctrl-C ends the program at
// once. A closed output pipe is no interrupt (SIGPIPE is ignored): see Reporter.

#include <atomic>

namespace kestrum {

// Installs the handlers; returns the flag they raise (the reporter raises it too).
std::atomic<bool>& InstallInterruptHandlers();

}  // namespace kestrum
