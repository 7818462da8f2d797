#include "Reporter.h"

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

Reporter::Reporter(int fd, std::size_t max_queued_bytes)
    : fd_(fd), max_queued_bytes_(max_queued_bytes), writer_([this] { Run(); }) {}

Reporter::~Reporter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_all();
  writer_.join();
}

void Reporter::Report(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    if (queued_bytes_ + text.size() > max_queued_bytes_) {
      ++dropped_;
      ++dropped_unsaid_;
      return;
    }
    queue_.push_back(text);
    queued_bytes_ += text.size();
  }
  queued_.notify_one();
}

std::uint64_t Reporter::Dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

void Reporter::Run() {
  using Clock = std::chrono::steady_clock;
  Clock::time_point give_up = Clock::time_point::max();
  std::unique_lock lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return stopping_ || !queue_.empty() || dropped_unsaid_ > 0; });
    if (stopping_ && give_up == Clock::time_point::max()) give_up = Clock::now() + kFinalFlush;
    std::string text;
    if (!queue_.empty()) {
      text = std::move(queue_.front());
      queue_.pop_front();
      queued_bytes_ -= text.size();
    } else if (dropped_unsaid_ > 0) {
      text = "kestrum-sim: " + std::to_string(dropped_unsaid_) +
             " report lines dropped (standard error was not being read)\n";
      dropped_unsaid_ = 0;
    } else {
      return;  // stopping, and everything is written
    }
    lock.unlock();
    const bool written = WriteAll(text);
    lock.lock();
    if (written) continue;
    ++dropped_;  // not repeated in a note: the stream that would carry it is what failed
    if (stopping_ && Clock::now() >= give_up) return;
  }
}

// Writes in pieces a pipe takes without blocking, waiting for room in short polls; false when
// the reader is gone or the writer is being stopped and its last second has run out.
bool Reporter::WriteAll(const std::string& text) {
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
