#pragma once
// A read a caller handed to the monitor thread (the overlapped read): the caller's buffer,
// how much of it is filled, and whether the read is over. The monitor reads arriving bytes
// straight into it; the caller sleeps until it is over. Not thread-safe: the device guards it.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace xcom {

class ReadHandOff;

class HandedRead {
 public:
  HandedRead(std::uint8_t* buffer, std::uint32_t count, bool endAtFirstBytes)
      : buffer_(buffer), count_(count), endAtFirstBytes_(endAtFirstBytes) {}

  // Where the next bytes go, and how many more fit (0 once the read is over).
  std::uint8_t* Next() const { return buffer_ + got_; }
  std::uint32_t Room() const { return ended_ ? 0 : count_ - got_; }

  // Notes `n` bytes put at Next(); the read is over when the buffer is full or, when it asked
  // for that, at its first bytes.
  void Placed(std::uint32_t n) {
    got_ += n;
    if (got_ == count_ || (endAtFirstBytes_ && got_ > 0)) ended_ = true;
  }

  // Ends the read with what it holds (purged, handed back, device lost).
  void End() { ended_ = true; }

  bool Over() const { return ended_; }
  std::uint32_t Got() const { return got_; }

 private:
  friend class ReadHandOff;
  std::uint8_t* buffer_;
  std::uint32_t count_;
  std::uint32_t got_ = 0;
  bool endAtFirstBytes_;
  bool ended_ = false;
  bool givenBack_ = false;  // guarded by the hand-off's own lock
};

// Where a caller waits for its handed read to come back. It has a lock of its own, apart from
// the device's: the monitor takes the device's lock at every arrival, and a caller woken to
// queue for it would wake the monitor back in turn.
class ReadHandOff {
 public:
  // The monitor is done with `read` for good: it keeps no pointer to it. Its caller may be
  // gone from here on, but waits for Wake() if it is not.
  void GiveBack(HandedRead& read) {
    std::lock_guard lock(mutex_);
    read.givenBack_ = true;
  }
  // Called once the monitor has let go of the device's lock: a caller woken before would, on
  // a shared core, run at once and queue for that lock.
  void Wake() { cameBack_.notify_one(); }

  // True when `read` came back within `wait`.
  bool AwaitBack(const HandedRead& read, std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    return cameBack_.wait_for(lock, wait, [&read] { return read.givenBack_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cameBack_;
};

}  // namespace xcom
