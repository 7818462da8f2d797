#include "StderrQueue.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace kestrum_sim {

namespace {
// A pipe with room for POLLOUT takes this much without blocking.
constexpr std::size_t kChunk = PIPE_BUF;
constexpr int kPollMs = 100;
constexpr auto kFinalFlush = std::chrono::seconds(1);
}  // namespace

StderrQueue::StderrQueue(int fd, std::size_t maxQueuedBytes)
    : fd_(fd), maxQueuedBytes_(maxQueuedBytes), writer_([this] { Run(); }) {}

StderrQueue::~StderrQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_all();
  writer_.join();
}

void StderrQueue::Report(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    if (queuedBytes_ + text.size() > maxQueuedBytes_) {
      ++dropped_;
      ++droppedUnsaid_;
      return;
    }
    queue_.push_back(text);
    queuedBytes_ += text.size();
  }
  queued_.notify_one();
}

std::uint64_t StderrQueue::Dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

void StderrQueue::Run() {
  using Clock = std::chrono::steady_clock;
  Clock::time_point giveUp = Clock::time_point::max();
  std::unique_lock lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return stopping_ || !queue_.empty() || droppedUnsaid_ > 0; });
    if (stopping_ && giveUp == Clock::time_point::max()) giveUp = Clock::now() + kFinalFlush;
    std::string text;
    if (!queue_.empty()) {
      text = std::move(queue_.front());
      queue_.pop_front();
      queuedBytes_ -= text.size();
    } else if (droppedUnsaid_ > 0) {
      text = "kestrum-sim: " + std::to_string(droppedUnsaid_) +
             " report lines dropped (standard error was not being read)\n";
      droppedUnsaid_ = 0;
    } else {
      return;  // stopping, and everything is written
    }
    lock.unlock();
    const bool written = WriteAll(text);
    lock.lock();
    if (written) continue;
    ++dropped_;  // not repeated in a note: the stream that would carry it is what failed
    if (stopping_ && Clock::now() >= giveUp) return;
  }
}

// Writes in pieces a pipe takes without blocking, waiting for room in short polls; false when
// the reader is gone or the writer is being stopped and its last second has run out.
bool StderrQueue::WriteAll(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    pollfd p{fd_, POLLOUT, 0};
    const int ready = ::poll(&p, 1, kPollMs);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) {
      std::lock_guard lock(mutex_);
      if (stopping_) return false;
      continue;
    }
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
    const ssize_t n = ::write(fd_, text.data() + done, std::min(kChunk, text.size() - done));
    if (n < 0 && errno != EINTR && errno != EAGAIN) return false;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace kestrum_sim
