#include "StopSignal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace xcom {

// An eventfd that is written once and never read: it stays readable (set) from Set() on, so
// every poll or epoll wait that includes it returns at once.
StopSignal::StopSignal() : handle_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (handle_ < 0) creationError_ = errno;
}

StopSignal::~StopSignal() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

void StopSignal::Set() {
  const std::uint64_t one = 1;
  // The counter cannot overflow from a handful of Set() calls; EINTR cannot happen on a
  // non-blocking eventfd write.
  [[maybe_unused]] const ssize_t n = ::write(static_cast<int>(handle_), &one, sizeof one);
}

bool StopSignal::IsSet() const {
  pollfd p{static_cast<int>(handle_), POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

void StopSignal::WaitUntilSet() const {
  if (handle_ < 0) return;
  pollfd p{static_cast<int>(handle_), POLLIN, 0};
  while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
  }
}

}  // namespace xcom
