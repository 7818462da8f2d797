#pragma once
// Test helper: a pseudo-terminal pair that stands in for a serial cable, plus a peer thread.
//
//   PtyPair pty;                          // openpty, raw mode, master non-blocking
//   port.DeviceName = pty.SlavePath();    // "/dev/pts/N": the code under test opens this
//   pty.WriteMaster(BytesOf("abc"));      // bytes the "remote end" sends to the port
//   ByteString got = pty.ReadMaster(3);   // bytes the port sent, waiting up to 2 s for them
//   pty.CloseMaster();                    // pull the cable: the slave side sees a hangup
//
//   PeerThread peer([&] { ... pty.ReadMaster(n) ... pty.WriteMaster(reply) ... });
//   // ~PeerThread joins; call peer.Join() earlier to wait for it explicitly.
//
// The pair keeps its own slave descriptor open (without a lock), so the pty stays usable
// while the code under test closes and reopens the slave path. Every descriptor is closed by
// the destructor. Linux only.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace ptytest {

using Bytes = std::vector<std::uint8_t>;

class PtyPair {
 public:
  // Opens the pair with the slave in raw mode (no echo, no line editing, 8 bits).
  // Throws std::runtime_error when the system has no pseudo-terminals left.
  PtyPair() {
    termios raw{};
    cfmakeraw(&raw);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    char name[256] = {};
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0)
      throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    slavePath_ = name;
    for (int fd : {master_, slave_}) {
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
  }
  ~PtyPair() {
    CloseMaster();
    CloseSlave();
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  // The path the code under test opens ("/dev/pts/N").
  const std::string& SlavePath() const { return slavePath_; }
  // The remote end (non-blocking); -1 after CloseMaster.
  int MasterFd() const { return master_; }
  // The helper's own slave descriptor (non-blocking, never locked); -1 after CloseSlave.
  int SlaveFd() const { return slave_; }

  // Closes the remote end: the slave side gets a hangup and loses its unread bytes.
  void CloseMaster() { CloseFd(master_); }
  // Drops the helper's slave descriptor (then the master sees EIO once nobody holds the slave).
  void CloseSlave() { CloseFd(slave_); }

  // Writes every byte to the master, waiting up to `timeoutMs` for room; true when all went.
  bool WriteMaster(const Bytes& bytes, int timeoutMs = 2000) {
    return WriteAll(master_, bytes.data(), bytes.size(), timeoutMs);
  }
  bool WriteMaster(const std::string& text, int timeoutMs = 2000) {
    return WriteAll(master_, text.data(), text.size(), timeoutMs);
  }

  // Reads from the master until `count` bytes came or `timeoutMs` passed; returns what came.
  Bytes ReadMaster(std::size_t count, int timeoutMs = 2000) {
    return ReadUpTo(master_, count, timeoutMs);
  }

  // Everything the master can read now or within `quietMs` of the last byte (drains it).
  Bytes DrainMaster(int quietMs = 50) {
    Bytes all;
    for (;;) {
      Bytes part = ReadUpTo(master_, 65536, quietMs, /*returnOnFirst=*/true);
      if (part.empty()) return all;
      all.insert(all.end(), part.begin(), part.end());
    }
  }

  // Bytes waiting at the master (sent by the port, not read yet); 0 when the query fails.
  std::size_t MasterQueued() const {
    int n = 0;
    return master_ >= 0 && ::ioctl(master_, FIONREAD, &n) == 0 && n > 0 ? std::size_t(n) : 0;
  }

  // Generic helpers on any non-blocking descriptor.
  static bool WriteAll(int fd, const void* data, std::size_t size, int timeoutMs) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (size > 0) {
      const ssize_t n = ::write(fd, p, size);
      if (n > 0) {
        p += n;
        size -= std::size_t(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      if (!PollFor(fd, POLLOUT, deadline)) return false;
    }
    return true;
  }
  static Bytes ReadUpTo(int fd, std::size_t count, int timeoutMs, bool returnOnFirst = false) {
    Bytes got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
      std::uint8_t buffer[4096];
      const std::size_t want = std::min(sizeof buffer, count - got.size());
      const ssize_t n = ::read(fd, buffer, want);
      if (n > 0) {
        got.insert(got.end(), buffer, buffer + n);
        if (returnOnFirst) break;
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;  // hangup or EIO
      if (!PollFor(fd, POLLIN, deadline)) break;
    }
    return got;
  }

 private:
  using Clock = std::chrono::steady_clock;

  // Waits until `fd` is ready for `events` or the deadline passed; false on time-out/error.
  static bool PollFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd p{fd, events, 0};
      const int r = ::poll(&p, 1, static_cast<int>(left));
      if (r > 0) return (p.revents & events) != 0 || (p.revents & POLLHUP) != 0;
      if (r < 0 && errno != EINTR) return false;
    }
  }
  static void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }

  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

// Runs `body` on its own thread; the destructor (or Join) waits for it to end.
class PeerThread {
 public:
  explicit PeerThread(std::function<void()> body) : thread_(std::move(body)) {}
  ~PeerThread() { Join(); }
  PeerThread(const PeerThread&) = delete;
  PeerThread& operator=(const PeerThread&) = delete;

  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

}  // namespace ptytest
