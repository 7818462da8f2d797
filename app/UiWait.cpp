#include "UiWait.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QPointer>
#include <QTimerEvent>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int waitDepth = 0;

struct TWaitScope {
  TWaitScope() { ++waitDepth; }
  ~TWaitScope() { --waitDepth; }
  TWaitScope(const TWaitScope&) = delete;
  TWaitScope& operator=(const TWaitScope&) = delete;
};

constexpr QEventLoop::ProcessEventsFlags kWindowSystemOnly = QEventLoop::ExcludeUserInputEvents |
                                                             QEventLoop::ExcludeSocketNotifiers |
                                                             QEventLoop::X11ExcludeTimers;

// Holds back every timer tick while a sleep lasts, and hands each timer that fell due one tick
// again when it ends, so that the pump after the sleep runs it. The X11 event loop already
// leaves timers out when asked to; the Windows one does not, so the ticks are caught on their
// way to their objects instead.
class TTimerHold : public QObject {
 public:
  TTimerHold() { QCoreApplication::instance()->installEventFilter(this); }
  ~TTimerHold() override {
    QCoreApplication::instance()->removeEventFilter(this);
    for (const auto& [target, timerId] : held_)
      if (target) QCoreApplication::postEvent(target, new QTimerEvent(timerId));
  }
  TTimerHold(const TTimerHold&) = delete;
  TTimerHold& operator=(const TTimerHold&) = delete;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Timer) return false;
    const int timerId = static_cast<QTimerEvent*>(event)->timerId();
    for (const auto& [target, id] : held_)
      if (target == watched && id == timerId) return true;
    held_.emplace_back(watched, timerId);
    return true;
  }

 private:
  std::vector<std::pair<QPointer<QObject>, int>> held_;
};

// Wakes the UI thread's event loop at each sleep's deadline: the sleep waits for the window
// system's next event or for this, whichever comes first, instead of looking every few
// milliseconds. One thread serves every sleep of the program's life, a sleep begun inside
// another's event processing included; it belongs to the application object and ends with it.
class TDeadlineWaker : public QObject {
 public:
  explicit TDeadlineWaker(QCoreApplication* application)
      : QObject(application), thread_([this] { Serve(); }) {}
  ~TDeadlineWaker() override {
    {
      const std::lock_guard lock(mutex_);
      ending_ = true;
    }
    changed_.notify_one();
    thread_.join();
  }
  TDeadlineWaker(const TDeadlineWaker&) = delete;
  TDeadlineWaker& operator=(const TDeadlineWaker&) = delete;

  // The waker of the running application, made at the first sleep.
  static TDeadlineWaker& Instance() {
    static QPointer<TDeadlineWaker> waker;
    if (!waker) waker = new TDeadlineWaker(QCoreApplication::instance());
    return *waker;
  }

  // Until the scope ends, `dispatcher` is woken once at `deadline`.
  class TScope {
   public:
    TScope(QAbstractEventDispatcher* dispatcher, Clock::time_point deadline) : waker_(Instance()) {
      const std::lock_guard lock(waker_.mutex_);
      waker_.deadlines_.push_back({dispatcher, deadline, ++waker_.lastId_});
      id_ = waker_.lastId_;
      waker_.changed_.notify_one();
    }
    ~TScope() {
      const std::lock_guard lock(waker_.mutex_);
      std::erase_if(waker_.deadlines_, [this](const TDeadline& d) { return d.id == id_; });
    }
    TScope(const TScope&) = delete;
    TScope& operator=(const TScope&) = delete;

   private:
    TDeadlineWaker& waker_;
    std::uint64_t id_ = 0;
  };

 private:
  struct TDeadline {
    QAbstractEventDispatcher* dispatcher;
    Clock::time_point at;
    std::uint64_t id;
  };

  void Serve() {
    std::unique_lock lock(mutex_);
    while (!ending_) {
      const auto next =
          std::min_element(deadlines_.begin(), deadlines_.end(),
                           [](const TDeadline& a, const TDeadline& b) { return a.at < b.at; });
      if (next == deadlines_.end()) {
        changed_.wait(lock);
      } else if (Clock::now() < next->at) {
        changed_.wait_until(lock, next->at);
      } else {
        // Woken under the lock: the sleep that owns the deadline is still in its scope, so the
        // dispatcher is still there.
        next->dispatcher->wakeUp();
        deadlines_.erase(next);
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<TDeadline> deadlines_;
  std::uint64_t lastId_ = 0;
  bool ending_ = false;
  std::thread thread_;  // last: it starts once the rest is there
};

}  // namespace

void WaitMilliseconds(int milliseconds) {
  const TWaitScope scope;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  if (QCoreApplication::instance() == nullptr || dispatcher == nullptr) {
    std::this_thread::sleep_until(deadline);
    return;
  }
  const TTimerHold hold;
  // The input held back meanwhile sits in the window system's own queue, where the X11 event
  // loop looks again only when woken: wake it, or the clicks and a close made during the sleep
  // wait for the next mouse move.
  struct TWakeAfter {
    QAbstractEventDispatcher* dispatcher;
    ~TWakeAfter() { dispatcher->wakeUp(); }
  } wakeAfter{dispatcher};
  QCoreApplication::processEvents(kWindowSystemOnly);
  if (Clock::now() >= deadline) return;
  const TDeadlineWaker::TScope waker(dispatcher, deadline);
  while (Clock::now() < deadline)
    QCoreApplication::processEvents(kWindowSystemOnly | QEventLoop::WaitForMoreEvents);
}

void PumpPendingEvents() {
  const TWaitScope scope;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool InsideCommandWait() {
  return waitDepth > 0;
}

namespace {

class TUiThreadWaits final : public TSessionWaits {
 public:
  void Sleep(int milliseconds) override { WaitMilliseconds(milliseconds); }
  void ProcessMessages() override { PumpPendingEvents(); }
  bool InsideWait() const override { return InsideCommandWait(); }
};

}  // namespace

TSessionWaits& UiThreadWaits() {
  static TUiThreadWaits waits;
  return waits;
}
