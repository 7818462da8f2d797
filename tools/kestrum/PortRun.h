#pragma once
// The command of the command line on one port: open it, run the command, report each result,
// close it. Several ports run side by side, one thread each, so that a slow or dead module
// holds up only its own port.

#include <atomic>
#include <string>

#include "ExitCode.h"
#include "Reporter.h"
#include "kestrum/CommandLine.h"

namespace kestrum {

// Runs on one port; `stop` (Ctrl-C) ends the command within about 50 ms and closes the port.
ExitCode RunOnPort(const Invocation& run, const std::string& port, Reporter& reporter,
                   const std::atomic<bool>& stop);

// Runs on every port of `run` at once; the worst exit code of them.
ExitCode RunOnAllPorts(const Invocation& run, Reporter& reporter, const std::atomic<bool>& stop);

}  // namespace kestrum
