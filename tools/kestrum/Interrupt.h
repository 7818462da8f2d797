#pragma once
// Ctrl-C, SIGTERM, SIGHUP and a closed output pipe (on Windows: Ctrl-C, Ctrl-Break and a closed
// console) end kestrum cleanly: the handler only raises a flag that every port's thread polls,
// so each closes its port (and restores its settings) before the program ends. A second Ctrl-C
// ends the program at once.

#include <atomic>

namespace kestrum {

// Installs the handlers; returns the flag they raise.
const std::atomic<bool>& InstallInterruptHandlers();

}  // namespace kestrum
