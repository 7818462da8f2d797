#pragma once
// Reporting on a stream (standard error) that never holds up serving: lines are queued, up to
// a bound, and written by a thread of their own. While the reader is slow or gone, lines that
// do not fit are dropped and counted; the count is reported once writing works again.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace kestrum_sim {

class StderrQueue {
 public:
  explicit StderrQueue(int fd, std::size_t maxQueuedBytes = 256 * 1024);
  // Writes what is still queued for up to about a second, then gives up on it.
  ~StderrQueue();
  StderrQueue(const StderrQueue&) = delete;
  StderrQueue& operator=(const StderrQueue&) = delete;

  // Queues `text` (whole lines); takes only a mutex, never waits for the stream.
  void Report(const std::string& text);
  std::uint64_t Dropped() const;

 private:
  void Run();
  bool WriteAll(const std::string& text);

  const int fd_;
  const std::size_t maxQueuedBytes_;
  mutable std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<std::string> queue_;
  std::size_t queuedBytes_ = 0;
  std::uint64_t dropped_ = 0;        // in all
  std::uint64_t droppedUnsaid_ = 0;  // not yet reported
  bool stopping_ = false;
  std::thread writer_;
};

}  // namespace kestrum_sim
