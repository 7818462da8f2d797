#pragma once
// Whether a path names a serial line this component may open, decided from the file system
// alone (stat and sysfs), before anything opens it: opening a device can have effects of its
// own (a watchdog starts counting, /dev/ptmx creates a pseudo-terminal), so a typing error must
// never get that far.
//
// A serial line is a character device of the tty class that is not
// - the process's own terminal (its controlling terminal, or the terminal on standard input,
//   output or error, under whatever name: /dev/tty, /dev/stdin, /proc/self/fd/0, /dev/pts/N);
// - /dev/tty, /dev/console or a virtual console, which stand for some other terminal;
// - a pseudo-terminal master (/dev/ptmx under any path, legacy /dev/pty?? masters).
// The slave side of a pseudo-terminal (/dev/pts/N) counts as a serial line: it is how the
// simulated module and other programs stand in for a cable.

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "OpenFailureNote.h"

namespace xcom {

struct SerialLineVerdict {
  // None: the path may be opened; NotSerialDevice (systemError ENOTTY); Other: stat failed
  // with systemError.
  OpenFailure reason = OpenFailure::None;
  int systemError = 0;
  struct stat info {};  // what stat found (valid when stat succeeded)
};

SerialLineVerdict CheckSerialLine(const std::string& path);
// The same for the node a descriptor holds: one opened with O_PATH, which opens no device, so
// that what is checked is what is opened afterwards, whatever the name leads to meanwhile.
SerialLineVerdict CheckSerialLineAt(int node);

// The parts of the verdict, for the device numbers they take.
bool IsPseudoTerminalSlave(dev_t device);
bool IsTerminalStandIn(dev_t device);  // /dev/tty, console, virtual consoles, pty masters
bool IsOwnTerminal(dev_t device);

// The controlling terminal as the tty_nr field of a /proc/<pid>/stat line gives it; 0 when
// there is none or the line cannot be read.
dev_t ControllingTerminalFromStat(const std::string& statLine);

}  // namespace xcom
