#include "Interrupt.h"

#include <signal.h>

namespace kestrum {
namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int signal) {
  interrupted = true;
  // The next one takes the default action: a hung port must not make the program unkillable.
  // A closed output pipe (watch | head) stays caught: the writes after it fail instead.
  if (signal != SIGPIPE) ::signal(signal, SIG_DFL);
}

}  // namespace

const std::atomic<bool>& InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::sigaction(signal, &action, nullptr);
  return interrupted;
}

}  // namespace kestrum
