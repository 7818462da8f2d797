#include "Interrupt.h"

#include <signal.h>

namespace kestrum {
namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int signal) {
  interrupted = true;
  // The next one takes the default action: a hung port must not make the program unkillable.
  ::signal(signal, SIG_DFL);
}

}  // namespace

std::atomic<bool>& InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
  // A closed output pipe (check | head -1) is no interrupt: the write after it fails instead,
  // and the reporter ends the run quietly, after a check has put its relays back.
  ::signal(SIGPIPE, SIG_IGN);
  return interrupted;
}

}  // namespace kestrum
