// The monitor's wait as one epoll set: the device edge-triggered, the mask-changed wakeup and the
// stop signal level-triggered.
#include <sys/epoll.h>

#include <cerrno>

#include "DeviceEventWait.h"
#include "UniqueFd.h"

namespace xcom {

namespace {

bool AddToEpoll(int epoll, int fd, std::uint32_t events) {
  epoll_event ev{};
  ev.events = events;
  ev.data.fd = fd;
  return ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &ev) == 0;
}

class EpollEventWait final : public DeviceEventWait {
 public:
  EpollEventWait(UniqueFd epoll, int deviceFd, int maskChangedFd)
      : epoll_(std::move(epoll)), deviceFd_(deviceFd), maskChangedFd_(maskChangedFd) {}

  // Puts the stop signal into the set once per signal: the set keeps it for every later wait.
  bool Watch(const StopSignal& stop) override {
    if (stop.Serial() == watchedSerial_) return true;
    const int stopFd = static_cast<int>(stop.NativeHandle());
    if (stopFd != watchedStop_ && watchedStop_ >= 0)
      ::epoll_ctl(epoll_.Get(), EPOLL_CTL_DEL, watchedStop_, nullptr);
    // EEXIST: the previous signal had the same number and is still open. A closed descriptor
    // left the set by itself, so a new signal that got its number is added again here.
    if (!AddToEpoll(epoll_.Get(), stopFd, EPOLLIN) && errno != EEXIST) return false;
    watchedStop_ = stopFd;
    watchedSerial_ = stop.Serial();
    return true;
  }

  bool Wait(int timeoutMs, ReadyEvents& ready) override {
    ready = ReadyEvents{};
    epoll_event found[4];
    const int n = ::epoll_wait(epoll_.Get(), found, 4, timeoutMs);
    if (n < 0) return errno == EINTR;
    for (int i = 0; i < n; ++i) Note(found[i], ready);
    return true;
  }

 private:
  void Note(const epoll_event& found, ReadyEvents& ready) const {
    if (found.data.fd == watchedStop_) ready.stop = true;
    if (found.data.fd == maskChangedFd_) ready.maskChanged = true;
    if (found.data.fd != deviceFd_) return;
    if ((found.events & (EPOLLHUP | EPOLLERR)) != 0) ready.hangUp = true;
    if ((found.events & EPOLLIN) != 0) ready.input = true;
  }

  const UniqueFd epoll_;
  const int deviceFd_;
  const int maskChangedFd_;
  int watchedStop_ = -1;
  std::uint64_t watchedSerial_ = 0;
};

}  // namespace

std::unique_ptr<DeviceEventWait> MakeDeviceEventWait(int deviceFd, int maskChangedFd) {
  UniqueFd epoll(::epoll_create1(EPOLL_CLOEXEC));
  if (!epoll.Valid() || !AddToEpoll(epoll.Get(), deviceFd, EPOLLIN | EPOLLET) ||
      !AddToEpoll(epoll.Get(), maskChangedFd, EPOLLIN))
    return nullptr;
  return std::make_unique<EpollEventWait>(std::move(epoll), deviceFd, maskChangedFd);
}

}  // namespace xcom
