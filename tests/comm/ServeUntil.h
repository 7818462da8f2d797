#pragma once
// Waiting on the test's main thread while it serves the component's synchronised calls, as the
// window's thread does between its events.

#include <chrono>
#include <functional>
#include <thread>

#include "Synchronizer.h"
#include "TestSupport.h"

inline bool ServeUntil(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  return testsupport::WaitUntil(done, limit, [] {
    xcom::Synchronizer::Instance().CheckSynchronize();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
}
