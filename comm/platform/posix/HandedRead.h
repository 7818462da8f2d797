#pragma once
// A read a caller handed to the monitor thread (the overlapped read): the caller's buffer,
// how much of it is filled, and whether the read is over. The monitor reads arriving bytes
// straight into it; the caller sleeps until it is over. Not thread-safe: the device guards it.

#include <cstdint>

namespace xcom {

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
  std::uint8_t* buffer_;
  std::uint32_t count_;
  std::uint32_t got_ = 0;
  bool endAtFirstBytes_;
  bool ended_ = false;
};

}  // namespace xcom
