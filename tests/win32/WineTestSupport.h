#pragma once
// Shared helpers of the Windows tests, which run under Wine on pseudo-terminals (see
// scripts/test-wine.sh): the far end of each serial line (PtyPeer), the Wine check with its
// openly reported skips, and bounded waits.

#include <gtest/gtest.h>
#include <winsock2.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ByteString.h"
#include "TestSupport.h"
#include "WinTypes.h"

namespace wintest {

using Bytes = xcom::ByteString;

// The serial lines the peer provides: "\\.\COM5" and "\\.\COM12" (a two-digit number).
inline const char* const kPort = "COM5";
inline const char* const kHighPort = "COM12";
// A name no device answers to, and no fallback of Wine maps to a real serial device.
inline const char* const kAbsentPort = "NOSUCHPORT7";

// True when the program runs under Wine rather than on Windows.
bool RunningUnderWine();

// Ends the test as skipped under Wine, with the difference from Windows as the reason. Every
// assertion placed after it holds on Windows and is not checked under Wine.
#define SKIP_UNDER_WINE(reason)                                                \
  do {                                                                         \
    if (::wintest::RunningUnderWine()) GTEST_SKIP() << "Wine 8: " << (reason); \
  } while (0)

// The native peer (rtutest-wine-peer) that holds the master side of each line, reached over
// a loopback TCP connection. A failed request fails the test that made it.
class PtyPeer {
 public:
  PtyPeer();
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  bool Connected() const { return socket_ != INVALID_SOCKET; }

  // Puts bytes on the line, towards the port.
  void Write(const std::string& port, const Bytes& bytes);
  // What the port sent: up to `count` bytes, waiting at most `limit`.
  Bytes Read(const std::string& port, std::size_t count, std::chrono::milliseconds limit);
  // Everything the port sent until the line stayed quiet for `quiet`.
  Bytes Drain(const std::string& port, std::chrono::milliseconds quiet);
  // Bytes the port sent that the peer has not read yet.
  int Pending(const std::string& port);
  // The line settings as the kernel holds them: ispeed, ospeed, cstopb, parodd, cmspar,
  // crtscts, ixon, ixoff, vstart, vstop, ...
  std::map<std::string, std::string> Termios(const std::string& port);
  // Closes the master: the port's line is hung up for good; the next open gets a fresh one.
  void Hangup(const std::string& port);

 private:
  std::string Request(const std::string& line);
  SOCKET socket_ = INVALID_SOCKET;
};

// Calls `done` until it holds or `limit` passes; true when it held.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  return testsupport::WaitUntil(done, limit);
}

// Milliseconds since `start`.
double MsSince(std::chrono::steady_clock::time_point start);

}  // namespace wintest
