#pragma once
// Ends the program in order when the system asks it to stop: SIGTERM, SIGINT and, where the
// system has them, SIGHUP and SIGQUIT make every running event loop return 128 + the signal's
// number, so that main() returns, the window is destroyed as after a normal close, and its port
// is closed (its lock released, its line settings given back). The signal handler only notes
// the number and sets a stop signal; a waiting thread then queues the exit to the UI thread. A
// second signal while the first is being handled ends the program at once (the default action):
// a window that no longer serves its event loop still stops.
//
// A SIGKILL cannot be caught; the port's lock ends with the process all the same. When the
// display goes away the toolkit calls exit(), which gives open lines their settings back too.

#include <thread>

#include "StopSignal.h"

class TEndSignals {
 public:
  // Create one, in the UI thread, after the application object.
  TEndSignals();
  ~TEndSignals();  // the default actions again
  TEndSignals(const TEndSignals&) = delete;
  TEndSignals& operator=(const TEndSignals&) = delete;

 private:
  void WaitForSignal();

  xcom::StopSignal arrived_;
  std::thread waiter_;
};
