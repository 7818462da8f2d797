#include "EndSignals.h"

#include <QCoreApplication>
#include <atomic>
#include <csignal>
#include <stdexcept>

namespace {

constexpr int kEndSignals[] = {
    SIGTERM,
    SIGINT,
#ifdef SIGHUP
    SIGHUP,
#endif
#ifdef SIGQUIT
    SIGQUIT,
#endif
};

// What the handler may touch: lock-free atomics and the stop signal's one system call.
std::atomic<int> arrivedNumber{0};
std::atomic<xcom::StopSignal*> arrivedSignal{nullptr};
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<xcom::StopSignal*>::is_always_lock_free);

extern "C" void OnEndSignal(int number) {
  std::signal(number, SIG_DFL);  // a second one ends the program where it stands
  int none = 0;
  arrivedNumber.compare_exchange_strong(none, number);
  if (xcom::StopSignal* signal = arrivedSignal.load()) signal->Set();
}

void SetHandlers(void (*handler)(int)) {
  for (const int number : kEndSignals) std::signal(number, handler);
}

}  // namespace

TEndSignals::TEndSignals() {
  if (arrived_.CreationError() != 0)
    throw std::runtime_error("Unable to create the signal for ending signals.");
  arrivedNumber = 0;
  arrivedSignal = &arrived_;
  waiter_ = std::thread([this] { WaitForSignal(); });
  SetHandlers(OnEndSignal);
}

TEndSignals::~TEndSignals() {
  SetHandlers(SIG_DFL);
  arrivedSignal = nullptr;
  arrived_.Set();  // ends the waiter whether or not a signal came
  waiter_.join();
}

void TEndSignals::WaitForSignal() {
  arrived_.WaitUntilSet();
  if (const int number = arrivedNumber.exchange(0); number != 0)
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [number] { QCoreApplication::exit(128 + number); },
        Qt::QueuedConnection);
}
