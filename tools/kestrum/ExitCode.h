#pragma once
// The program's exit codes; with several ports the worst one (the highest) is the program's.

namespace kestrum {

enum class ExitCode : int {
  kSuccess = 0,        // done, and every check step passed
  kFailed = 1,         // the module answered, but a check step failed or it sent an exception
  kUsage = 2,          // the command line is wrong
  kNoReply = 3,        // no valid reply within the time-out and the retries
  kCannotOpen = 4,     // the port cannot be opened
  kInterrupted = 130,  // Ctrl-C or SIGTERM (128 + SIGINT, as shells report it)
};

inline ExitCode Worst(ExitCode a, ExitCode b) {
  return static_cast<int>(a) >= static_cast<int>(b) ? a : b;
}

}  // namespace kestrum
