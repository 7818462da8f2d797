#pragma once
// Connects the serial component's dispatcher to Qt's event loop: when the monitor thread
// queues a routine for the UI thread, the loop is woken and runs it. While a bridge exists the
// dispatcher's wake hook points at it; destroying the bridge clears the hook.

#include "WakeSignal.h"

class TSyncBridge {
 public:
  TSyncBridge();
  ~TSyncBridge();
  TSyncBridge(const TSyncBridge&) = delete;
  TSyncBridge& operator=(const TSyncBridge&) = delete;

 private:
  TWakeSignal wake_;
};
