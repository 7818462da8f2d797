#include "Interrupt.h"

#include <windows.h>

// Windows has no signals for a console program: Ctrl-C, Ctrl-Break and the console being
// closed (or the user logging off) arrive on a thread of their own through the console
// control handler. They raise the same flag the ports' threads poll.
namespace kestrum {
namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

BOOL WINAPI OnConsoleControl(DWORD event) {
  const bool again = interrupted.exchange(true);
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      // The second one takes the default action: a hung port must not make the program
      // unkillable.
      return again ? FALSE : TRUE;
    default:
      // A closed console ends the process as soon as this handler returns (and at the latest
      // after a few seconds): hold it here while the ports' threads release their ports; the
      // program's own exit ends this thread with the rest.
      Sleep(INFINITE);
      return TRUE;
  }
}

}  // namespace

std::atomic<bool>& InstallInterruptHandlers() {
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  return interrupted;
}

}  // namespace kestrum
