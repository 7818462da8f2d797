#include "SyncBridge.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cstdint>
#include <stdexcept>
#include <thread>

#include "Synchronizer.h"

// The wake-up travels through an eventfd rather than a posted Qt event, so the only memory the
// monitor thread and the UI thread share is the dispatcher's own queue under its own mutex.
TSyncBridge::TSyncBridge() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wakeFd_ < 0) throw std::runtime_error("Unable to create the UI wake-up event.");
  notifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Serve(); });
  auto& sync = xcom::Synchronizer::Instance();
  sync.SetMainThread(std::this_thread::get_id());
  const int fd = wakeFd_;
  sync.SetWakeHook([fd] {
    const std::uint64_t one = 1;
    // A full counter already means "wake up"; nothing else can fail here.
    [[maybe_unused]] const ssize_t written = write(fd, &one, sizeof one);
  });
}

TSyncBridge::~TSyncBridge() {
  xcom::Synchronizer::Instance().SetWakeHook({});
  notifier_.reset();
  close(wakeFd_);
}

void TSyncBridge::Serve() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = read(wakeFd_, &count, sizeof count);
  xcom::Synchronizer::Instance().CheckSynchronize();
}
