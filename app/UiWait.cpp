#include "UiWait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <algorithm>
#include <chrono>
#include <thread>

namespace {

int waitDepth = 0;

struct TWaitScope {
  TWaitScope() { ++waitDepth; }
  ~TWaitScope() { --waitDepth; }
  TWaitScope(const TWaitScope&) = delete;
  TWaitScope& operator=(const TWaitScope&) = delete;
};

// How often the window system is served during a sleep: well within the 100 ms a person, or a
// window manager's ping, notices.
constexpr int kServeEveryMs = 5;

constexpr QEventLoop::ProcessEventsFlags kWindowSystemOnly = QEventLoop::ExcludeUserInputEvents |
                                                             QEventLoop::ExcludeSocketNotifiers |
                                                             QEventLoop::X11ExcludeTimers;

}  // namespace

void WaitMilliseconds(int milliseconds) {
  const TWaitScope scope;
  QDeadlineTimer deadline(std::max(milliseconds, 0), Qt::PreciseTimer);
  while (true) {
    if (QCoreApplication::instance() != nullptr) QCoreApplication::processEvents(kWindowSystemOnly);
    const std::chrono::nanoseconds left(deadline.remainingTimeNSecs());
    if (left.count() <= 0) return;
    std::this_thread::sleep_for(
        std::min<std::chrono::nanoseconds>(left, std::chrono::milliseconds(kServeEveryMs)));
  }
}

void PumpPendingEvents() {
  const TWaitScope scope;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool InsideCommandWait() {
  return waitDepth > 0;
}
