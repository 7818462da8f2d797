#pragma once
// Wakes the UI thread from any thread: Wake() may be called anywhere, at any time; the UI
// thread's event loop then calls `onWake` (several wakes before it runs may be served by one
// call). The UI thread creates and destroys it. One implementation per OS (platform/).

#include <functional>
#include <memory>

class TWakeSignal {
 public:
  explicit TWakeSignal(std::function<void()> onWake);
  ~TWakeSignal();
  TWakeSignal(const TWakeSignal&) = delete;
  TWakeSignal& operator=(const TWakeSignal&) = delete;

  void Wake();

 private:
  struct Native;
  std::unique_ptr<Native> native_;
};
