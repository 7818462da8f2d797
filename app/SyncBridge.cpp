#include "SyncBridge.h"

#include <thread>

#include "Synchronizer.h"

TSyncBridge::TSyncBridge() : wake_([] { xcom::Synchronizer::Instance().CheckSynchronize(); }) {
  auto& sync = xcom::Synchronizer::Instance();
  sync.SetMainThread(std::this_thread::get_id());
  sync.SetWakeHook([this] { wake_.Wake(); });
}

TSyncBridge::~TSyncBridge() {
  xcom::Synchronizer::Instance().SetWakeHook({});
}
