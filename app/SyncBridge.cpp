#include "SyncBridge.h"

#include <thread>

#include "Synchronizer.h"
#include "UiWait.h"

TSyncBridge::TSyncBridge() {
  auto& sync = xcom::Synchronizer::Instance();
  sync.SetMainThread(std::this_thread::get_id());
  // Invoked by name: the queued call is built and freed inside Qt, so the waking thread hands
  // nothing of its own to the UI thread (ThreadSanitizer sees only the dispatcher's own lock).
  sync.SetWakeHook(
      [this] { QMetaObject::invokeMethod(this, "ServeQueuedCalls", Qt::QueuedConnection); });
  // A port's long waits on this thread (a connect to a serial device server) keep the window
  // answering its window system, as a command's sleep does.
  sync.SetMainThreadWait([](int milliseconds) { WaitMilliseconds(milliseconds); });
}

TSyncBridge::~TSyncBridge() {
  xcom::Synchronizer::Instance().SetWakeHook({});
  xcom::Synchronizer::Instance().SetMainThreadWait({});
}

void TSyncBridge::ServeQueuedCalls() {
  xcom::Synchronizer::Instance().CheckSynchronize();
}
