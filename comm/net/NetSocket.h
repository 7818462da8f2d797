#pragma once
// The network line's system calls, one implementation per OS (platform/posix/NetSocket.cpp,
// platform/win32/NetSocket.cpp): a bounded TCP connect, a connected socket, and the doorbell
// that wakes the monitor thread's wait.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "OpenFailure.h"
#include "StopSignal.h"

namespace xcom {

class NetSocket {
 public:
  virtual ~NetSocket() = default;
  // Sends every byte, waiting at most `timeout` for room: the bytes sent (fewer when the time
  // ran out), or -1 when the connection failed.
  virtual long Send(const std::uint8_t* bytes, std::size_t count,
                    std::chrono::milliseconds timeout) = 0;
  // Waits at most `timeout` for bytes: their count, 0 when none came, -1 when the connection
  // ended or failed.
  virtual long Receive(std::uint8_t* buffer, std::size_t size,
                       std::chrono::milliseconds timeout) = 0;
  // Bytes sent but not yet acknowledged by the server, where the system tells; else 0.
  virtual std::uint32_t Unacknowledged() const = 0;
  // Ends the connection both ways; a Receive waiting in another thread returns.
  virtual void ShutDown() = 0;
};

struct ConnectOutcome {
  std::unique_ptr<NetSocket> socket;  // nullptr when the connect failed
  OpenFailure reason = OpenFailure::None;
  int systemError = 0;
};

// Resolves `host` and connects to `port` (each address in turn) within `timeout` all told. The
// connection has TCP_NODELAY and keepalive probes that give up on a silent server within a few
// seconds. On the thread that serves synchronised calls the wait is made in short slices
// through Synchronizer::MainThreadWait, so that a window stays answering.
ConnectOutcome ConnectTcp(const std::string& host, const std::string& port,
                          std::chrono::milliseconds timeout);

// Wakes a thread waiting in Wait. Ring is safe from any thread.
class Doorbell {
 public:
  virtual ~Doorbell() = default;
  virtual void Ring() = 0;
  // Waits until the bell rings (and silences it) or `stop` is set: false when stopped.
  virtual bool Wait(const StopSignal& stop) = 0;
};

// nullptr when the system has no descriptor or handle left.
std::unique_ptr<Doorbell> MakeDoorbell();

}  // namespace xcom
