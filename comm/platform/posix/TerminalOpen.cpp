#include "TerminalOpen.h"

#include <sys/file.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "OpenRefusal.h"
#include "TerminalDevice.h"

namespace xcom {

namespace {

// Gives the line back what it held and lets go of its exclusive flag; keeps errno.
std::unique_ptr<CommDevice> RefusedAfterChanges(int fd, const LineSettings& original,
                                                bool exclusive) {
  const int error = errno;
  WriteLineSettings(fd, original, false);
  if (exclusive) ::ioctl(fd, TIOCNXCL);
  return Refused(OpenFailureOf(error), error);
}

}  // namespace

std::unique_ptr<CommDevice> TakeTerminal(UniqueFd fd, bool pseudoTerminal) {
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {  // in use
    const int error = errno;
    return Refused(error == EWOULDBLOCK ? OpenFailure::Busy : OpenFailure::Other, error);
  }
  LineSettings original;
  if (!ReadLineSettings(fd.Get(), original)) {
    const int error = errno;
    return Refused(OpenFailureOf(error), error);
  }
  const bool exclusive = !pseudoTerminal && ::ioctl(fd.Get(), TIOCEXCL) == 0;
  LineSettings line = original;
  MakeRaw(line);
  TerminalWaits waits;
  if (!waits.Make(fd.Get()) || !WriteLineSettings(fd.Get(), line, false))
    return RefusedAfterChanges(fd.Get(), original, exclusive);
  NoteOpenFailure(OpenFailure::None);
  return std::make_unique<TerminalDevice>(std::move(fd), original, std::move(waits), exclusive,
                                          pseudoTerminal);
}

}  // namespace xcom
