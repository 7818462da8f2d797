#pragma once
// How a command of the session waits: a sleep, during which none of the session's own work
// runs, and a pump of every pending event, during which ticks and clicks run to their end.
// The window waits on the UI thread (UiWait.h); tests wait without a window.

class TSessionWaits {
 public:
  virtual void Sleep(int milliseconds) = 0;
  virtual void ProcessMessages() = 0;
  // True while a Sleep or a ProcessMessages is under way.
  virtual bool InsideWait() const = 0;

 protected:
  ~TSessionWaits() = default;
};
