#pragma once
// Connects the serial component's dispatcher to Qt's event loop: when the monitor thread
// queues a routine for the UI thread, it posts a queued call to this object, and the UI
// thread's loop runs the queued routines. While a bridge exists the dispatcher's wake hook
// points at it; destroying the bridge clears the hook. The bridge must outlive every port
// whose deliveries it serves.

#include <QObject>

class TSyncBridge : public QObject {
  Q_OBJECT

 public:
  TSyncBridge();
  ~TSyncBridge() override;
  TSyncBridge(const TSyncBridge&) = delete;
  TSyncBridge& operator=(const TSyncBridge&) = delete;

 private:
  // Runs on the UI thread: every routine the monitor threads have queued so far.
  Q_INVOKABLE void ServeQueuedCalls();
};
