#include "AddressLookup.h"

#include <thread>

#include "Synchronizer.h"

namespace xcom {

namespace {
constexpr int kSliceMs = 20;
}  // namespace

AddressLookup::~AddressLookup() {
  if (found != nullptr) ::freeaddrinfo(found);
}

std::shared_ptr<AddressLookup> LookUpAddresses(const std::string& host, const std::string& port,
                                               std::chrono::steady_clock::time_point deadline) {
  auto lookup = std::make_shared<AddressLookup>();
  std::thread([lookup, host, port] {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int result = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    std::lock_guard lock(lookup->mutex);
    lookup->result = result;
    lookup->found = result == 0 ? found : nullptr;
    lookup->finished = true;
    lookup->done.notify_all();
  }).detach();
  std::unique_lock lock(lookup->mutex);
  while (!lookup->finished && std::chrono::steady_clock::now() < deadline) {
    if (Synchronizer::Instance().HasMainThreadWait()) {
      lock.unlock();
      Synchronizer::Instance().MainThreadWait(kSliceMs);
      lock.lock();
    } else {
      lookup->done.wait_until(lock, deadline);
    }
  }
  return lookup;
}

}  // namespace xcom
