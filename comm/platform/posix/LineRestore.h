#pragma once
// Gives a terminal device back the settings it had before this process changed them: when the
// device is closed, and, for a device still open then, when the process ends through exit() (a
// GUI toolkit exits that way when its display goes away). A process killed outright cannot do
// it; its lock on the device ends with it all the same (see TerminalOpen.h).

#include "LineSettings.h"

namespace xcom {

class LineRestore {
 public:
  // `original` is what the device held before the open changed anything.
  LineRestore(int fd, const LineSettings& original);
  // Restores the settings (a device that has gone away ignores it).
  ~LineRestore();
  LineRestore(const LineRestore&) = delete;
  LineRestore& operator=(const LineRestore&) = delete;

 private:
  int fd_;
  LineSettings original_;
};

}  // namespace xcom
