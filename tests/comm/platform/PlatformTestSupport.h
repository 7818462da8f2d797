#pragma once
// Shared pieces of the platform layer's tests: a pseudo-terminal with the layer's device opened
// on its slave side, control blocks, and waiting for the pty to pass bytes on.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>
#include <thread>

#include "CommDevice.h"
#include "PtyPair.h"

namespace xcom::testing {

using ptytest::Bytes;
using Clock = std::chrono::steady_clock;

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

// Polls `done` every millisecond for up to `limit`; true as soon as it holds.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

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

}  // namespace xcom::testing
