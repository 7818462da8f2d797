#pragma once
// Ends the program in order when the system asks it to stop: on Linux SIGTERM, SIGINT, SIGHUP
// and SIGQUIT make every running event loop return 128 + the signal's number, so that main()
// returns, the window is destroyed as after a normal close, and its port is closed (its lock
// released, its line settings given back). The signal handler only writes the number into a
// pipe; everything else runs in the UI thread when the event loop reads it. A second signal
// while the first is being handled ends the program at once (the default action): a window
// that no longer serves its event loop still stops. On Windows there is nothing to catch.
//
// A SIGKILL cannot be caught; the port's lock ends with the process all the same. When the
// display goes away the toolkit calls exit(), which gives open lines their settings back too.

#include <memory>

class TEndSignals {
 public:
  // Create one, in the UI thread, after the application object.
  TEndSignals();
  ~TEndSignals();  // the default actions again
  TEndSignals(const TEndSignals&) = delete;
  TEndSignals& operator=(const TEndSignals&) = delete;

 private:
  struct Native;
  std::unique_ptr<Native> native_;
};
