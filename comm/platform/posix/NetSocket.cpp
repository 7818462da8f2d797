// The network line's system calls on POSIX systems: a non-blocking connect to one looked-up
// address waited for with poll, and TCP keepalive tuned so that a server that vanishes is noticed
// in seconds.
#include "NetSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "ConnectInTurn.h"
#include "UniqueFd.h"
#include "Wakeup.h"

namespace xcom {

namespace {

using Clock = std::chrono::steady_clock;

// Polls one descriptor until `deadline`, an error counting as ready (the caller's next call
// reports it).
bool WaitReady(int fd, short events, Clock::time_point deadline) {
  return WaitInSlices(deadline, [fd, events](int milliseconds) {
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, milliseconds);
    return n > 0 || (n < 0 && errno != EINTR);
  });
}

OpenFailure ConnectFailureOf(int error) {
  switch (error) {
    case ECONNREFUSED:
    case ECONNRESET:
      return OpenFailure::ConnectionRefused;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
    case EADDRNOTAVAIL:
      return OpenFailure::HostUnreachable;
    case ETIMEDOUT:
      return OpenFailure::ConnectTimedOut;
    default:
      return OpenFailure::Other;
  }
}

void SetOption(int fd, int level, int name, int value) {
  [[maybe_unused]] const int r = ::setsockopt(fd, level, name, &value, sizeof value);
}

// Small frames leave at once; a server that stops answering is given up on after about four
// seconds of silence (keepalive: first probe after 1 s, three more a second apart) or of
// unacknowledged data.
void TuneForSerialTraffic(int fd) {
  SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
  SetOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
#ifdef TCP_KEEPIDLE
  SetOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, 1);
  SetOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, 1);
  SetOption(fd, IPPROTO_TCP, TCP_KEEPCNT, 3);
#endif
#ifdef TCP_USER_TIMEOUT
  SetOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, 4000);
#endif
}

class PosixSocket final : public NetSocket {
 public:
  explicit PosixSocket(UniqueFd fd) : fd_(std::move(fd)) {}

  long Send(const std::uint8_t* bytes, std::size_t count,
            std::chrono::milliseconds timeout) override {
    const auto deadline = Clock::now() + timeout;
    std::size_t sent = 0;
    while (sent < count) {
      const ssize_t n = ::send(fd_.Get(), bytes + sent, count - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
      const int left = MillisecondsUntil(deadline);
      pollfd p{fd_.Get(), POLLOUT, 0};
      if (left == 0 || ::poll(&p, 1, left) == 0) break;
    }
    return static_cast<long>(sent);
  }

  long Receive(std::uint8_t* buffer, std::size_t size, std::chrono::milliseconds timeout) override {
    pollfd p{fd_.Get(), POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
    if (ready == 0 || (ready < 0 && errno == EINTR)) return 0;
    const ssize_t n = ::recv(fd_.Get(), buffer, size, 0);
    if (n > 0) return static_cast<long>(n);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    return -1;  // the server closed the connection, or it failed
  }

  std::uint32_t Unacknowledged() const override {
    int queued = 0;
    if (::ioctl(fd_.Get(), TIOCOUTQ, &queued) != 0 || queued < 0) return 0;
    return static_cast<std::uint32_t>(queued);
  }

  void ShutDown() override { ::shutdown(fd_.Get(), SHUT_RDWR); }

 private:
  const UniqueFd fd_;
};

ConnectOutcome Failed(OpenFailure reason, int error) {
  return ConnectOutcome{nullptr, reason, error};
}

ConnectOutcome ConnectTo(const addrinfo& address, Clock::time_point deadline) {
  UniqueFd fd(::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                       address.ai_protocol));
  if (!fd.Valid()) return Failed(OpenFailure::Other, errno);
  TuneForSerialTraffic(fd.Get());
  if (::connect(fd.Get(), address.ai_addr, address.ai_addrlen) != 0) {
    if (errno != EINPROGRESS) return Failed(ConnectFailureOf(errno), errno);
    if (!WaitReady(fd.Get(), POLLOUT, deadline))
      return Failed(OpenFailure::ConnectTimedOut, ETIMEDOUT);
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error != 0) return Failed(ConnectFailureOf(error), error);
  }
  return ConnectOutcome{std::make_unique<PosixSocket>(std::move(fd)), OpenFailure::None, 0};
}

class PosixDoorbell final : public Doorbell {
 public:
  explicit PosixDoorbell(std::unique_ptr<Wakeup> wakeup) : wakeup_(std::move(wakeup)) {}
  void Ring() override { wakeup_->Signal(); }
  bool Wait(const StopSignal& stop) override {
    pollfd p[2] = {{static_cast<int>(stop.NativeHandle()), POLLIN, 0},
                   {wakeup_->Descriptor(), POLLIN, 0}};
    while (::poll(p, 2, -1) < 0 && errno == EINTR) {
    }
    if (p[0].revents != 0) return false;  // the stop wins when both are pending
    wakeup_->Drain();
    return true;
  }

 private:
  const std::unique_ptr<Wakeup> wakeup_;
};

}  // namespace

ConnectOutcome ConnectTcp(const std::string& host, const std::string& port,
                          std::chrono::milliseconds timeout) {
  return ConnectInTurn(host, port, Clock::now() + timeout, ETIMEDOUT, ConnectTo);
}

std::unique_ptr<Doorbell> MakeDoorbell() {
  std::unique_ptr<Wakeup> wakeup = MakeWakeup();
  if (!wakeup) return nullptr;
  return std::make_unique<PosixDoorbell>(std::move(wakeup));
}

}  // namespace xcom
