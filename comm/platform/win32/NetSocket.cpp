// The network line's system calls on Windows (Winsock): a non-blocking connect to one looked-up
// address waited for with select (a failed connect shows in its except set), and the keepalive
// values that notice a vanished server within seconds.
#include "NetSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h:
#include <mstcpip.h>

#include "ConnectInTurn.h"
#include "WinTypes.h"

namespace xcom {

namespace {

using Clock = std::chrono::steady_clock;

// Winsock is started once for the process and ended at its exit.
bool WinsockStarted() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

// select on one socket: readable (`write` false) or writable, an error counting as ready.
bool Ready(SOCKET s, bool write, int milliseconds) {
  fd_set wanted, failed;
  FD_ZERO(&wanted);
  FD_ZERO(&failed);
  FD_SET(s, &wanted);
  FD_SET(s, &failed);
  timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
  return ::select(0, write ? nullptr : &wanted, write ? &wanted : nullptr, &failed, &limit) != 0;
}

// Waits for the connect until `deadline`.
bool WaitConnected(SOCKET s, Clock::time_point deadline) {
  return WaitInSlices(deadline, [s](int milliseconds) { return Ready(s, true, milliseconds); });
}

OpenFailure ConnectFailureOf(int error) {
  switch (error) {
    case WSAECONNREFUSED:
    case WSAECONNRESET:
      return OpenFailure::ConnectionRefused;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAENETDOWN:
    case WSAEHOSTDOWN:
    case WSAEADDRNOTAVAIL:
      return OpenFailure::HostUnreachable;
    case WSAETIMEDOUT:
      return OpenFailure::ConnectTimedOut;
    default:
      return OpenFailure::Other;
  }
}

// Small frames leave at once; a silent server is probed after 1 s, then every second.
void TuneForSerialTraffic(SOCKET s) {
  const BOOL on = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
  tcp_keepalive values{1, 1000, 1000};
  DWORD returned = 0;
  ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
             nullptr);
#ifdef TCP_KEEPCNT
  const DWORD probes = 3;
  ::setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, reinterpret_cast<const char*>(&probes), sizeof probes);
#endif
}

class WinSocket final : public NetSocket {
 public:
  explicit WinSocket(SOCKET s) : s_(s) {}
  ~WinSocket() override { ::closesocket(s_); }
  WinSocket(const WinSocket&) = delete;
  WinSocket& operator=(const WinSocket&) = delete;

  long Send(const std::uint8_t* bytes, std::size_t count,
            std::chrono::milliseconds timeout) override {
    const auto deadline = Clock::now() + timeout;
    std::size_t sent = 0;
    while (sent < count) {
      const int n = ::send(s_, reinterpret_cast<const char*>(bytes + sent),
                           static_cast<int>(count - sent), 0);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      if (n == SOCKET_ERROR && ::WSAGetLastError() != WSAEWOULDBLOCK) return -1;
      const int left = MillisecondsUntil(deadline);
      if (left == 0 || !Ready(s_, true, left)) break;
    }
    return static_cast<long>(sent);
  }

  long Receive(std::uint8_t* buffer, std::size_t size, std::chrono::milliseconds timeout) override {
    if (!Ready(s_, false, static_cast<int>(timeout.count()))) return 0;
    const int n = ::recv(s_, reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
    if (n > 0) return n;
    if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) return 0;
    return -1;  // the server closed the connection, or it failed
  }

  // Windows does not tell how much of the sent data the server has not acknowledged.
  std::uint32_t Unacknowledged() const override { return 0; }

  void ShutDown() override { ::shutdown(s_, SD_BOTH); }

 private:
  const SOCKET s_;
};

ConnectOutcome Failed(OpenFailure reason, int error) {
  return ConnectOutcome{nullptr, reason, error};
}

ConnectOutcome ConnectTo(const addrinfo& address, Clock::time_point deadline) {
  const SOCKET s = ::WSASocketW(address.ai_family, address.ai_socktype, address.ai_protocol,
                                nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return Failed(OpenFailure::Other, ::WSAGetLastError());
  auto socket = std::make_unique<WinSocket>(s);  // closes it on every way out
  u_long nonBlocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
  TuneForSerialTraffic(s);
  if (::connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return Failed(ConnectFailureOf(error), error);
    if (!WaitConnected(s, deadline)) return Failed(OpenFailure::ConnectTimedOut, WSAETIMEDOUT);
    int result = 0;
    int length = sizeof result;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &length) != 0)
      result = ::WSAGetLastError();
    if (result != 0) return Failed(ConnectFailureOf(result), result);
  }
  return ConnectOutcome{std::move(socket), OpenFailure::None, 0};
}

class WinDoorbell final : public Doorbell {
 public:
  explicit WinDoorbell(HANDLE event) : event_(event) {}
  ~WinDoorbell() override { ::CloseHandle(event_); }
  WinDoorbell(const WinDoorbell&) = delete;
  WinDoorbell& operator=(const WinDoorbell&) = delete;

  void Ring() override { ::SetEvent(event_); }
  bool Wait(const StopSignal& stop) override {
    const HANDLE handles[2] = {reinterpret_cast<HANDLE>(stop.NativeHandle()), event_};
    // The stop wins when both are set: WaitForMultipleObjects answers the lowest index.
    return ::WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
  }

 private:
  const HANDLE event_;  // auto-reset: a wait silences it
};

}  // namespace

ConnectOutcome ConnectTcp(const std::string& host, const std::string& port,
                          std::chrono::milliseconds timeout) {
  if (!WinsockStarted()) return Failed(OpenFailure::Other, ::WSAGetLastError());
  return ConnectInTurn(host, port, Clock::now() + timeout, WSAETIMEDOUT, ConnectTo);
}

std::unique_ptr<Doorbell> MakeDoorbell() {
  const HANDLE event = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr) return nullptr;
  return std::make_unique<WinDoorbell>(event);
}

}  // namespace xcom
