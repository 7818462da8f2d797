#pragma once
// Shared pieces of the platform layer's tests: a pseudo-terminal with the layer's device opened
// on its slave side, control blocks, and waiting for the pty to pass bytes on.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include <sys/wait.h>
#include <unistd.h>

#include "PlatformDevice.h"
#include "PtyPair.h"
#include "TestSupport.h"

namespace xcom::testing {

using ptytest::Bytes;
using Clock = std::chrono::steady_clock;

// Another process that opens `path` with the layer and holds it until this object ends (then it
// exits and waits for it). Opened() tells whether the child got the device.
class DeviceHeldByChild {
 public:
  explicit DeviceHeldByChild(const std::string& path) {
    if (::pipe(opened_) != 0 || ::pipe(release_) != 0) return;
    child_ = ::fork();
    if (child_ == 0) {
      auto device = OpenPlatformDevice(path);
      const char ok = device ? 'y' : 'n';
      [[maybe_unused]] ssize_t n = ::write(opened_[1], &ok, 1);
      char go;
      n = ::read(release_[0], &go, 1);
      _exit(0);
    }
    char ok = 0;
    if (child_ > 0 && ::read(opened_[0], &ok, 1) == 1) openedOk_ = ok == 'y';
  }
  ~DeviceHeldByChild() { Release(); }
  DeviceHeldByChild(const DeviceHeldByChild&) = delete;
  DeviceHeldByChild& operator=(const DeviceHeldByChild&) = delete;

  bool Opened() const { return openedOk_; }
  // Lets the child exit and waits for it; true when it ended.
  bool Release() {
    bool ended = false;
    if (child_ > 0) {
      [[maybe_unused]] ssize_t n = ::write(release_[1], "x", 1);
      int status = 0;
      ended = ::waitpid(child_, &status, 0) == child_;
      child_ = -1;
    }
    for (int* fd : {&opened_[0], &opened_[1], &release_[0], &release_[1]})
      if (*fd >= 0) ::close(std::exchange(*fd, -1));
    return ended;
  }

 private:
  int opened_[2] = {-1, -1};
  int release_[2] = {-1, -1};
  pid_t child_ = -1;
  bool openedOk_ = false;
};

// A pty pair and the device opened on its slave path.
struct OpenPty {
  ptytest::PtyPair pty;
  std::unique_ptr<CommDevice> device = OpenPlatformDevice(pty.SlavePath());
};

// The block the component writes for 9600 8N1 without flow control (zeroed, DCBlength 28).
inline DCB PlainDcb() {
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof(DCB);
  dcb.fBinary = 1;
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonLim = dcb.XoffLim = 512;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  dcb.EvtChar = 10;
  return dcb;
}

inline Bytes BytesOf(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

inline bool SameBlock(const DCB& a, const DCB& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

using testsupport::WaitUntil;

inline std::uint32_t InputCount(CommDevice& device) {
  std::uint32_t errors = 0;
  COMSTAT status{};
  device.ClearCommError(errors, status);
  return status.cbInQue;
}

// Waits until the device's input queue holds `count` bytes (the pty passes them on
// asynchronously).
inline bool WaitForQueued(CommDevice& device, std::uint32_t count) {
  return WaitUntil([&] { return InputCount(device) >= count; });
}

inline double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A scratch folder under /tmp, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/comm-platform-XXXXXX";
    if (const char* made = ::mkdtemp(pattern)) path_ = made;
  }
  ~ScratchDir() {
    std::error_code ignored;  // nothing to do about a scratch folder that will not go
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace xcom::testing
