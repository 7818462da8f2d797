#pragma once
// The connect that every system shares: the host's addresses are looked up, then tried in turn
// with the system's own connect to one address (platform/*/NetSocket.cpp), which waits for its
// socket through WaitInSlices.

#include <chrono>
#include <functional>
#include <string>

#include "AddressLookup.h"
#include "NetSocket.h"

namespace xcom {

// Connects to one looked-up address, waiting until `deadline` at most.
using ConnectToAddress = ConnectOutcome (*)(const addrinfo& address,
                                            std::chrono::steady_clock::time_point deadline);

// Tries each address of `host` in turn until one connects or `deadline` passes; the outcome of
// the last try. `timedOutError` is the system's error number for a connect out of time.
ConnectOutcome ConnectInTurn(const std::string& host, const std::string& port,
                             std::chrono::steady_clock::time_point deadline, int timedOutError,
                             ConnectToAddress connect);

// Milliseconds left until `deadline`, 0 once it has passed.
int MillisecondsUntil(std::chrono::steady_clock::time_point deadline);

// Waits until `ready` answers true (it looks at a socket, waiting at most the milliseconds it is
// given) or `deadline` passes: false when the time ran out. On the main thread of a window the
// wait is made in short slices through its own wait, so that the window keeps answering.
bool WaitInSlices(std::chrono::steady_clock::time_point deadline,
                  const std::function<bool(int milliseconds)>& ready);

}  // namespace xcom
