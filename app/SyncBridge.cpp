#include "SyncBridge.h"

#include <thread>

#include "Synchronizer.h"

TSyncBridge::TSyncBridge() {
  auto& sync = xcom::Synchronizer::Instance();
  sync.SetMainThread(std::this_thread::get_id());
  // Invoked by name: the queued call is built and freed inside Qt, so the waking thread hands
  // nothing of its own to the UI thread (ThreadSanitizer sees only the dispatcher's own lock).
  sync.SetWakeHook(
      [this] { QMetaObject::invokeMethod(this, "ServeQueuedCalls", Qt::QueuedConnection); });
}

TSyncBridge::~TSyncBridge() {
  xcom::Synchronizer::Instance().SetWakeHook({});
}

void TSyncBridge::ServeQueuedCalls() {
  xcom::Synchronizer::Instance().CheckSynchronize();
}
