// The wake-up travels through an eventfd rather than a posted Qt event, so the only memory the
// waking thread and the UI thread share is whatever the caller guards itself (ThreadSanitizer
// can see every step of it).
#include "WakeSignal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <cstdint>
#include <stdexcept>

struct TWakeSignal::Native {
  int fd = -1;
  std::unique_ptr<QSocketNotifier> notifier;
};

TWakeSignal::TWakeSignal(std::function<void()> onWake) : native_(std::make_unique<Native>()) {
  native_->fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (native_->fd < 0) throw std::runtime_error("Unable to create the UI wake-up event.");
  native_->notifier = std::make_unique<QSocketNotifier>(native_->fd, QSocketNotifier::Read);
  const int fd = native_->fd;
  QObject::connect(native_->notifier.get(), &QSocketNotifier::activated,
                   [fd, onWake = std::move(onWake)] {
                     std::uint64_t count = 0;
                     [[maybe_unused]] const ssize_t got = read(fd, &count, sizeof count);
                     onWake();
                   });
}

TWakeSignal::~TWakeSignal() {
  native_->notifier.reset();
  close(native_->fd);
}

void TWakeSignal::Wake() {
  const std::uint64_t one = 1;
  // A full counter already means "wake up"; nothing else can fail here.
  [[maybe_unused]] const ssize_t written = write(native_->fd, &one, sizeof one);
}
