#pragma once
// The input this layer holds: bytes the monitor thread took from the driver at their arrival
// and no reader has taken yet. It holds at most the SetupComm input size (4096 before
// SetupComm, 64 KiB at most): the rest stays in the driver, whose own flow control then works.
// It also keeps the state of the 80 % mark (deIn80Full), which counts held and driver bytes
// against the SetupComm input size. Not thread-safe: the device guards it.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace xcom {

class HeldInput {
 public:
  // The SetupComm input size; 0 means none was given.
  void SetQueueSize(std::uint32_t inQueue);
  // The size the 80 % mark counts against, and how many bytes are held at most.
  std::uint32_t QueueSize() const;
  std::uint32_t Limit() const;

  std::uint32_t Count() const { return static_cast<std::uint32_t>(bytes_.size() - head_); }
  // How many more bytes may be held (0 when full, or fuller than a smaller new size allows).
  std::uint32_t Room() const;

  // Moves up to `count` held bytes, oldest first, to `buffer`; answers how many.
  std::uint32_t Take(std::uint8_t* buffer, std::uint32_t count);
  void Append(const std::uint8_t* bytes, std::size_t n);

  // Notes `queued` (held plus driver bytes); true when that has just reached 80 % of the queue
  // size: the first time, and again only after it fell below the mark.
  bool ReachedMark80(std::uint64_t queued);

  // PURGE_RXCLEAR: drops every held byte and forgets the mark.
  void Purge();

 private:
  std::vector<std::uint8_t> bytes_;  // held from head_ on
  std::size_t head_ = 0;
  std::uint32_t queueSize_ = 0;
  bool above80_ = false;
};

}  // namespace xcom
