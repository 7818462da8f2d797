// A self-pipe: the handler does nothing but write(), which is async-signal-safe.
#include "EndSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <stdexcept>

namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

// The pipe's write end, for the handler; -1 while no TEndSignals exists.
volatile sig_atomic_t signalWriteFd = -1;

void OnEndSignal(int number) {
  const int savedErrno = errno;
  const unsigned char byte = static_cast<unsigned char>(number);
  if (signalWriteFd >= 0) {
    [[maybe_unused]] const ssize_t n = ::write(signalWriteFd, &byte, 1);
  }
  errno = savedErrno;
}

void SetHandler(void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigemptyset(&action.sa_mask);
  for (int number : kEndSignals) ::sigaction(number, &action, nullptr);
}

}  // namespace

struct TEndSignals::Native {
  int pipe[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier;
};

TEndSignals::TEndSignals() : native_(std::make_unique<Native>()) {
  if (::pipe2(native_->pipe, O_CLOEXEC | O_NONBLOCK) != 0)
    throw std::runtime_error("Unable to create the pipe for ending signals.");
  const int readFd = native_->pipe[0];
  native_->notifier = std::make_unique<QSocketNotifier>(readFd, QSocketNotifier::Read);
  QObject::connect(native_->notifier.get(), &QSocketNotifier::activated, [readFd] {
    unsigned char number = 0;
    if (::read(readFd, &number, 1) != 1) return;
    QCoreApplication::exit(128 + number);
  });
  signalWriteFd = native_->pipe[1];
  // SA_RESETHAND: the first signal is handled in order, a second one has its default action.
  SetHandler(OnEndSignal, SA_RESTART | SA_RESETHAND);
}

TEndSignals::~TEndSignals() {
  SetHandler(SIG_DFL, 0);
  signalWriteFd = -1;
  native_->notifier.reset();
  ::close(native_->pipe[0]);
  ::close(native_->pipe[1]);
}
