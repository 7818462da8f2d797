#include "HeldInput.h"

#include <algorithm>
#include <cstring>

#include "QueueSize.h"

namespace xcom {

namespace {
constexpr std::uint32_t kMaxHeld = 65536;
}  // namespace

void HeldInput::SetQueueSize(std::uint32_t inQueue) {
  queueSize_ = inQueue;
  bytes_.reserve(Limit());
}

std::uint32_t HeldInput::QueueSize() const {
  return QueueSizeCounted(queueSize_);
}

std::uint32_t HeldInput::Limit() const {
  return std::min(QueueSize(), kMaxHeld);
}

std::uint32_t HeldInput::Room() const {
  return Count() < Limit() ? Limit() - Count() : 0;
}

std::uint32_t HeldInput::Take(std::uint8_t* buffer, std::uint32_t count) {
  const std::uint32_t n = std::min(count, Count());
  if (n == 0) return 0;
  std::memcpy(buffer, bytes_.data() + head_, n);
  head_ += n;
  if (head_ == bytes_.size()) {
    bytes_.clear();
    head_ = 0;
  }
  return n;
}

void HeldInput::Append(const std::uint8_t* bytes, std::size_t n) {
  // Taken bytes are dropped from the front once they are half the store, so that it neither
  // grows without end nor moves its bytes at every arrival.
  if (head_ > 0 && head_ >= bytes_.size() / 2) {
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
  bytes_.insert(bytes_.end(), bytes, bytes + n);
}

bool HeldInput::ReachedMark80(std::uint64_t queued) {
  const bool above = queued * 10 >= std::uint64_t(QueueSize()) * 8;
  const bool reached = above && !above80_;
  above80_ = above;
  return reached;
}

void HeldInput::Purge() {
  bytes_.clear();
  head_ = 0;
  above80_ = false;
}

}  // namespace xcom
