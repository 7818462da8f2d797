#include "ConnectInTurn.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "Synchronizer.h"

namespace xcom {

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kSliceMs = 20;  // how long the main thread waits between looks at a connect
}  // namespace

ConnectOutcome ConnectInTurn(const std::string& host, const std::string& port,
                             Clock::time_point deadline, int timedOutError,
                             ConnectToAddress connect) {
  const std::shared_ptr<AddressLookup> lookup = LookUpAddresses(host, port, deadline);
  std::unique_lock lock(lookup->mutex);
  if (!lookup->finished)
    return ConnectOutcome{nullptr, OpenFailure::ConnectTimedOut, timedOutError};
  ConnectOutcome outcome{nullptr, OpenFailure::HostUnknown, 0};
  if (lookup->result != 0) return outcome;
  // Each address in turn, as long as time is left: localhost may lead to ::1 with nothing
  // listening there, and to 127.0.0.1 with the server.
  for (const addrinfo* address = lookup->found; address != nullptr; address = address->ai_next) {
    outcome = connect(*address, deadline);
    if (outcome.socket || Clock::now() >= deadline) break;
  }
  return outcome;
}

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

bool WaitInSlices(Clock::time_point deadline, const std::function<bool(int milliseconds)>& ready) {
  for (;;) {
    const int left = MillisecondsUntil(deadline);
    const bool sliced = left > 0 && Synchronizer::Instance().HasMainThreadWait();
    if (ready(sliced ? 0 : left)) return true;
    if (left == 0) return false;
    if (sliced) Synchronizer::Instance().MainThreadWait(std::min(left, kSliceMs));
  }
}

}  // namespace xcom
