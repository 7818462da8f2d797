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

void Synchronizer::SetMainThreadWait(std::function<void(int)> wait) {
  std::lock_guard lock(mutex_);
  mainThreadWait_ = std::move(wait);
}

bool Synchronizer::HasMainThreadWait() const {
  std::lock_guard lock(mutex_);
  return std::this_thread::get_id() == mainThread_ && mainThreadWait_;
}

bool Synchronizer::MainThreadWait(int milliseconds) {
  std::function<void(int)> wait;
  {
    std::lock_guard lock(mutex_);
    if (std::this_thread::get_id() != mainThread_ || !mainThreadWait_) return false;
    wait = mainThreadWait_;
  }
  wait(milliseconds);
  return true;
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
  // Calls are taken one at a time from the shared queue, not as a batch: a routine that
  // closes another port waits (WaitServing) for that port's monitor, whose own call may be
  // queued behind this one; it must still be in the queue for that wait to serve it. Only as
  // many calls as were queued on entry are served, so a monitor that queues again at once
  // cannot keep the main thread here.
  std::size_t toServe = 0;
  {
    std::lock_guard lock(mutex_);
    if (std::this_thread::get_id() != mainThread_) return false;
    toServe = queue_.size();
  }
  bool ran = false;
  for (; toServe > 0; --toServe) {
    Pending* pending = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) break;
      pending = queue_.front();
      queue_.pop_front();
    }
    ran = true;
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
  return ran;
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
