#include "Synchronizer.h"

#include <algorithm>

namespace xcom {

Synchronizer& Synchronizer::Instance() {
  static Synchronizer instance;
  return instance;
}

Synchronizer::Synchronizer() : mainThread_(std::this_thread::get_id()) {}

void Synchronizer::SetWakeHook(std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  wakeHook_ = std::move(hook);
}

void Synchronizer::SetMainThread(std::thread::id id) {
  std::lock_guard lock(mutex_);
  mainThread_ = id;
}

bool Synchronizer::IsMainThread() const {
  std::lock_guard lock(mutex_);
  return std::this_thread::get_id() == mainThread_;
}

void Synchronizer::Synchronize(const std::function<void()>& call) {
  if (IsMainThread()) {
    call();
    return;
  }
  Pending pending{&call, false, nullptr};
  std::function<void()> wake;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(&pending);
    wake = wakeHook_;
  }
  changed_.notify_all();
  if (wake) wake();
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return pending.finished; });
  if (pending.error) std::rethrow_exception(pending.error);
}

bool Synchronizer::CheckSynchronize() {
  std::deque<Pending*> batch;
  {
    std::lock_guard lock(mutex_);
    if (std::this_thread::get_id() != mainThread_) return false;
    batch.swap(queue_);
  }
  for (Pending* pending : batch) {
    std::exception_ptr error;
    try {
      (*pending->call)();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard lock(mutex_);
      pending->error = error;
      pending->finished = true;
    }
    changed_.notify_all();
  }
  return !batch.empty();
}

void Synchronizer::WaitServing(const std::function<bool()>& done) {
  for (;;) {
    CheckSynchronize();
    std::unique_lock lock(mutex_);
    const bool serving = std::this_thread::get_id() == mainThread_;
    changed_.wait(lock, [&] { return done() || (serving && !queue_.empty()); });
    if (done()) return;
  }
}

void Synchronizer::Notify() {
  { std::lock_guard lock(mutex_); }
  changed_.notify_all();
}

}  // namespace xcom
