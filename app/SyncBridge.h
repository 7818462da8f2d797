#pragma once
// Connects the serial component's dispatcher to Qt's event loop: when the monitor thread
// queues a routine for the UI thread, the loop is woken and runs it. While a bridge exists the
// dispatcher's wake hook points at it; destroying the bridge clears the hook.

#include <QObject>
#include <memory>

class QSocketNotifier;

class TSyncBridge : public QObject {
 public:
  TSyncBridge();
  ~TSyncBridge() override;
  TSyncBridge(const TSyncBridge&) = delete;
  TSyncBridge& operator=(const TSyncBridge&) = delete;

 private:
  void Serve();
  int wakeFd_ = -1;  // an eventfd: written by any thread, read by the UI thread
  std::unique_ptr<QSocketNotifier> notifier_;
};
