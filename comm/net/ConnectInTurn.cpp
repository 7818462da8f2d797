#include "ConnectInTurn.h"

#include <memory>
#include <mutex>

namespace xcom {

ConnectOutcome ConnectInTurn(const std::string& host, const std::string& port,
                             std::chrono::steady_clock::time_point deadline, int timedOutError,
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
    if (outcome.socket || std::chrono::steady_clock::now() >= deadline) break;
  }
  return outcome;
}

}  // namespace xcom
