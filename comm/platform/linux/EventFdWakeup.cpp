// The wakeup as an eventfd: one descriptor, a counter that any write makes readable and one
// read empties.
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "UniqueFd.h"
#include "Wakeup.h"

namespace xcom {

namespace {

class EventFdWakeup final : public Wakeup {
 public:
  explicit EventFdWakeup(UniqueFd fd) : fd_(std::move(fd)) {}

  int Descriptor() const override { return fd_.Get(); }

  void Signal() override {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd_.Get(), &one, sizeof one);
  }

  void Drain() override {
    std::uint64_t value;
    [[maybe_unused]] const ssize_t n = ::read(fd_.Get(), &value, sizeof value);
  }

 private:
  const UniqueFd fd_;
};

}  // namespace

std::unique_ptr<Wakeup> MakeWakeup() {
  UniqueFd fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!fd.Valid()) return nullptr;
  return std::make_unique<EventFdWakeup>(std::move(fd));
}

}  // namespace xcom
