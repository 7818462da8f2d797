#pragma once
// How one thread wakes another that waits in poll() or in the device's event wait: a descriptor
// that turns readable when signalled and stays so until drained. Each backend makes it with its
// own system call (Linux: an eventfd).

#include <memory>

namespace xcom {

class Wakeup {
 public:
  virtual ~Wakeup() = default;
  // The descriptor to wait on: readable from Signal() until Drain().
  virtual int Descriptor() const = 0;
  virtual void Signal() = 0;
  virtual void Drain() = 0;
};

// A new wakeup, not signalled; nullptr, with errno set, when the system has none left.
std::unique_ptr<Wakeup> MakeWakeup();

}  // namespace xcom
