#pragma once
// The program's exit codes; with several ports the worst one (the highest) is the program's.

namespace kestrum {

enum class ExitCode : int {
  Success = 0,        // done, and every check step passed
  Failed = 1,         // the module answered, but a check step failed or it sent an exception
  Usage = 2,          // the command line is wrong
  NoReply = 3,        // no valid reply within the time-out and the retries
  CannotOpen = 4,     // the port cannot be opened
  DeviceLost = 4,     // the device went away while open: as good as not there
  OutputFailed = 5,   // a result could not be written (full disk, closed output)
  Interrupted = 130,  // Ctrl-C or SIGTERM (128 + SIGINT, as shells report it)
};

inline ExitCode Worst(ExitCode a, ExitCode b) {
  return static_cast<int>(a) >= static_cast<int>(b) ? a : b;
}

}  // namespace kestrum
