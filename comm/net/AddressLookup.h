#pragma once
// Name resolution for a connect with a time-out: getaddrinfo runs on its own thread, so that a
// resolver that hangs costs no longer than the connect's time-out. A lookup given up on
// finishes by itself and frees what it found. (On Windows, Winsock must be started first.)

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <netdb.h>
#endif

namespace xcom {

struct AddressLookup {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  int result = 0;  // getaddrinfo's
  addrinfo* found = nullptr;
  ~AddressLookup();
};

// Waits until `deadline` at most; on the main thread in slices through its wait (Synchronizer).
// The answer holds `finished` false when the time ran out.
std::shared_ptr<AddressLookup> LookUpAddresses(const std::string& host, const std::string& port,
                                               std::chrono::steady_clock::time_point deadline);

}  // namespace xcom
