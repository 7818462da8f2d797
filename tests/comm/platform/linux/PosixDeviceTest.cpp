// The Linux device on pseudo-terminals: opening (exclusive, terminals only), queues, purge,
// time-outs, transfers, and what a hung-up line does to each call.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "PlatformTestSupport.h"
#include "ThreadCapabilities.h"

namespace xcom::testing {
namespace {

constexpr DWORD MAXDWORD = 0xFFFFFFFF;

// ---------------------------------------------------------------------------------------------
// Opening

TEST(PosixDeviceOpen, OpensAPseudoTerminalAndOpensItAgainAfterClosing) {
  ptytest::PtyPair pty;
  for (int round = 0; round < 3; ++round) {
    auto device = OpenPlatformDevice(pty.SlavePath());
    ASSERT_TRUE(device) << round;
    EXPECT_FALSE(device->DeviceLost());
  }
}

TEST(PosixDeviceOpen, PathsRelativeToTheWorkingFolderOpen) {
  ptytest::PtyPair pty;
  EXPECT_TRUE(OpenPlatformDevice(std::filesystem::relative(pty.SlavePath()).string()));
}

TEST(PosixDeviceOpen, SecondOpenInTheSameProcessFails) {
  ptytest::PtyPair pty;
  auto first = OpenPlatformDevice(pty.SlavePath());
  ASSERT_TRUE(first);
  EXPECT_FALSE(OpenPlatformDevice(pty.SlavePath()));
  EXPECT_FALSE(OpenPlatformDevice(std::filesystem::relative(pty.SlavePath()).string()));
  // The refused attempt left the first one working.
  const std::uint8_t byte[] = {0x5A};
  EXPECT_EQ(first->WriteOverlapped(byte, 1), 1u);
  EXPECT_EQ(pty.ReadMaster(1), Bytes{0x5A});
  first.reset();
  EXPECT_TRUE(OpenPlatformDevice(pty.SlavePath()));
}

TEST(PosixDeviceOpen, ChildProcessCannotOpenWhatTheParentHolds) {
  ptytest::PtyPair pty;
  auto held = OpenPlatformDevice(pty.SlavePath());
  ASSERT_TRUE(held);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(OpenPlatformDevice(pty.SlavePath()) ? 1 : 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child opened a device the parent holds";
}

TEST(PosixDeviceOpen, ParentCannotOpenWhatAChildHolds) {
  ptytest::PtyPair pty;
  DeviceHeldByChild other(pty.SlavePath());
  ASSERT_TRUE(other.Opened());
  EXPECT_FALSE(OpenPlatformDevice(pty.SlavePath()));
  ASSERT_TRUE(other.Release());
  EXPECT_TRUE(OpenPlatformDevice(pty.SlavePath())) << "the lock ends with the process";
}

TEST(PosixDeviceOpen, APtyIsFreeAgainAfterItsHolderDiedWithoutClosing) {
  ptytest::PtyPair pty;
  {
    auto device = OpenPlatformDevice(pty.SlavePath());
    ASSERT_TRUE(device);
    int excl = -1;
    ASSERT_EQ(::ioctl(pty.SlaveFd(), TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 0) << "a pty's exclusive flag would outlive its holder";
  }
  DeviceHeldByChild dying(pty.SlavePath());  // ends with _exit: the device is never closed
  ASSERT_TRUE(dying.Opened());
  ASSERT_TRUE(dying.Release());
  // Root would pass a stale TIOCEXCL; an ordinary user would not.
  ptytest::ScopedCapabilityDrop asUser({CAP_SYS_ADMIN});
  if (!asUser.Active()) GTEST_SKIP() << "this thread's capabilities cannot be lowered";
  EXPECT_TRUE(OpenPlatformDevice(pty.SlavePath()));
}

TEST(PosixDeviceOpen, TheLineGetsItsSettingsBackOnCloseAndOnExit) {
  ptytest::PtyPair pty;
  termios cooked{};
  ASSERT_EQ(::tcgetattr(pty.SlaveFd(), &cooked), 0);
  cooked.c_lflag |= ICANON | ECHO | ISIG;
  cooked.c_iflag |= ICRNL;
  ASSERT_EQ(::tcsetattr(pty.SlaveFd(), TCSANOW, &cooked), 0);
  const auto lflagNow = [&] {
    termios now{};
    ::tcgetattr(pty.SlaveFd(), &now);
    return now.c_lflag & (ICANON | ECHO | ISIG);
  };
  {
    auto device = OpenPlatformDevice(pty.SlavePath());
    ASSERT_TRUE(device);
    EXPECT_EQ(lflagNow(), 0u) << "raw while open";
  }
  EXPECT_EQ(lflagNow(), ICANON | ECHO | ISIG);
  termios after{};
  ::tcgetattr(pty.SlaveFd(), &after);
  EXPECT_TRUE(after.c_iflag & ICRNL);

  // A process that ends through exit() with the device still open gives it back too.
  const pid_t child = ::fork();
  if (child == 0) {
    const auto stillOpen = OpenPlatformDevice(pty.SlavePath());  // never destroyed
    std::exit(stillOpen && lflagNow() == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(lflagNow(), ICANON | ECHO | ISIG);
}

TEST(PosixDeviceOpen, RefusesEverythingThatIsNoTerminal) {
  ScratchDir dir;
  const std::string file = dir.Path() + "/plain";
  std::ofstream(file) << "not a serial line";
  const std::string fifo = dir.Path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path :
       {file, dir.Path(), fifo, std::string("/dev/null"), std::string("/dev/zero"),
        dir.Path() + "/missing", std::string("/dev/no-such-serial-device")}) {
    const auto start = Clock::now();
    EXPECT_FALSE(OpenPlatformDevice(path)) << path;
    EXPECT_LT(MillisecondsSince(start), 1000) << path << " must not block";
  }
  std::ifstream in(file);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "not a serial line") << "a refused file is left as it was";
}

// ---------------------------------------------------------------------------------------------
// Queues, purge, time-outs

TEST(PosixDeviceQueues, InputCountIsWhatArrivedOutputCountIsTheDrivers) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  std::uint32_t errors = 99;
  COMSTAT status{7, 7, 7};
  ASSERT_TRUE(p.device->ClearCommError(errors, status));
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(status.cbInQue, 0u);
  EXPECT_EQ(status.cbOutQue, 0u);
  EXPECT_EQ(status.fFlags, 0u);

  ASSERT_TRUE(p.pty.WriteMaster(Bytes{1, 0, 2, 0, 3}));
  ASSERT_TRUE(WaitForQueued(*p.device, 5));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(p.device->ClearCommError(errors, status));
  EXPECT_EQ(status.cbInQue, 5u);
  EXPECT_EQ(status.cbOutQue, 0u) << "a pseudo-terminal has no output queue of its own";
}

TEST(PosixDeviceQueues, PurgeDropsQueuedInputOnly) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.pty.WriteMaster(std::string("stale bytes")));
  ASSERT_TRUE(WaitForQueued(*p.device, 11));
  ASSERT_TRUE(p.device->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
  EXPECT_EQ(InputCount(*p.device), 0u);

  ASSERT_TRUE(p.pty.WriteMaster(std::string("new")));
  ASSERT_TRUE(WaitForQueued(*p.device, 3));
  std::uint8_t got[3];
  EXPECT_EQ(p.device->ReadOverlapped(got, 3), 3u);
  EXPECT_EQ(Bytes(got, got + 3), (Bytes{'n', 'e', 'w'}));

  EXPECT_TRUE(p.device->PurgeComm(PURGE_TXCLEAR));
  EXPECT_FALSE(p.device->PurgeComm(0x0010)) << "unknown purge flags are refused";
}

TEST(PosixDeviceQueues, QueueSizesAreHeldAndReported) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  COMMPROP props;
  ASSERT_TRUE(p.device->GetCommProperties(props));
  EXPECT_EQ(props.wPacketLength, 64);
  EXPECT_EQ(props.dwCurrentRxQueue, 0u) << "no size before SetupComm: the held one counts";
  EXPECT_EQ(props.dwCurrentTxQueue, 0u);
  EXPECT_NE(props.dwMaxBaud, 0u);

  ASSERT_TRUE(p.device->SetupComm(2048, 1024));
  ASSERT_TRUE(p.device->GetCommProperties(props));
  EXPECT_EQ(props.dwCurrentRxQueue, 2048u);
  EXPECT_EQ(props.dwCurrentTxQueue, 1024u);
  EXPECT_EQ(PlatformQueueSizeLimit(), 8192);

  // Sizes far beyond the component's limit are held, without allocating them.
  ASSERT_TRUE(p.device->SetupComm(0xFFFFFFFF, 0xFFFFFFFF));
  ASSERT_TRUE(p.device->GetCommProperties(props));
  EXPECT_EQ(props.dwCurrentRxQueue, 0xFFFFFFFFu);
  ASSERT_TRUE(p.pty.WriteMaster(std::string("ok")));
  ASSERT_TRUE(WaitForQueued(*p.device, 2));
}

TEST(PosixDeviceQueues, TimeoutsReadBackExactly) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  for (const COMMTIMEOUTS& set :
       {COMMTIMEOUTS{100, 10, 200, 10, 200}, COMMTIMEOUTS{1, 0, 1, 0, 1},
        COMMTIMEOUTS{MAXDWORD, MAXDWORD, 12345, 0, MAXDWORD}, COMMTIMEOUTS{0, 0, 0, 0, 0}}) {
    ASSERT_TRUE(p.device->SetCommTimeouts(set));
    COMMTIMEOUTS got{9, 9, 9, 9, 9};
    ASSERT_TRUE(p.device->GetCommTimeouts(got));
    EXPECT_EQ(std::memcmp(&got, &set, sizeof got), 0);
  }
}

// ---------------------------------------------------------------------------------------------
// Transfers

TEST(PosixDeviceTransfer, WritesEveryByteIncludingZeros) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  const Bytes frame{0x00, 0x41, 0x00, 0xFF, 0x00, 0x11, 0x13};
  EXPECT_EQ(p.device->WriteOverlapped(frame.data(), 7), 7u);
  EXPECT_EQ(p.pty.ReadMaster(7), frame);
  EXPECT_EQ(p.device->WriteOverlapped(frame.data(), 0), 0u);
  EXPECT_TRUE(p.pty.DrainMaster().empty());
}

TEST(PosixDeviceTransfer, WriteIntoAPeerThatNeverReadsEndsAfterAboutOneSecond) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  Bytes big(1 << 20);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  const auto start = Clock::now();
  const std::uint32_t n = p.device->WriteOverlapped(big.data(), std::uint32_t(big.size()));
  const double ms = MillisecondsSince(start);
  EXPECT_GT(n, 0u);
  EXPECT_LT(n, big.size());
  EXPECT_GE(ms, 900);
  EXPECT_LT(ms, 3000);
  // The count is exactly what reached the other end, no more, no less.
  const Bytes arrived = p.pty.DrainMaster(200);
  EXPECT_EQ(arrived.size(), n);
  EXPECT_TRUE(std::equal(arrived.begin(), arrived.end(), big.begin()));
}

TEST(PosixDeviceTransfer, ReadsQueuedBytesInOrder) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.pty.WriteMaster(Bytes{0x64, 0x03, 0x00, 0x00, 0x04, 0xFF, 0x00}));
  ASSERT_TRUE(WaitForQueued(*p.device, 7));
  std::uint8_t got[7] = {};
  EXPECT_EQ(p.device->ReadOverlapped(got, 3), 3u);
  EXPECT_EQ(InputCount(*p.device), 4u);
  EXPECT_EQ(p.device->ReadOverlapped(got + 3, 4), 4u);
  EXPECT_EQ(Bytes(got, got + 7), (Bytes{0x64, 0x03, 0x00, 0x00, 0x04, 0xFF, 0x00}));
  EXPECT_EQ(p.device->ReadOverlapped(got, 0), 0u);
}

// Asking for more than is queued: the read time-outs decide when the read ends.
struct ReadCase {
  COMMTIMEOUTS timeouts;
  double minMs, maxMs;
};

std::uint32_t TimedRead(OpenPty& p, const COMMTIMEOUTS& t, std::uint32_t count, double& ms) {
  EXPECT_TRUE(p.device->SetCommTimeouts(t));
  std::uint8_t buffer[64];
  const auto start = Clock::now();
  const std::uint32_t n = p.device->ReadOverlapped(buffer, count);
  ms = MillisecondsSince(start);
  return n;
}

TEST(PosixDeviceTransfer, ReadTimeoutsBoundAReadOfMoreThanIsQueued) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  double ms = 0;

  // MAXDWORD, 0, 0: at once with what is there.
  ASSERT_TRUE(p.pty.WriteMaster(std::string("ab")));
  ASSERT_TRUE(WaitForQueued(*p.device, 2));
  EXPECT_EQ(TimedRead(p, {MAXDWORD, 0, 0, 0, 0}, 10, ms), 2u);
  EXPECT_LT(ms, 500);

  // Total constant: waits it out.
  ASSERT_TRUE(p.pty.WriteMaster(std::string("cd")));
  ASSERT_TRUE(WaitForQueued(*p.device, 2));
  EXPECT_EQ(TimedRead(p, {0, 0, 300, 0, 0}, 10, ms), 2u);
  EXPECT_GE(ms, 280);
  EXPECT_LT(ms, 2000);

  // Total multiplier: 100 ms per byte asked for.
  ASSERT_TRUE(p.pty.WriteMaster(std::string("e")));
  ASSERT_TRUE(WaitForQueued(*p.device, 1));
  EXPECT_EQ(TimedRead(p, {0, 100, 0, 0, 0}, 3, ms), 1u);
  EXPECT_GE(ms, 280);
  EXPECT_LT(ms, 2000);

  // Interval: ends once the line has been quiet that long after a byte.
  ASSERT_TRUE(p.pty.WriteMaster(std::string("fgh")));
  ASSERT_TRUE(WaitForQueued(*p.device, 3));
  EXPECT_EQ(TimedRead(p, {150, 0, 0, 0, 0}, 10, ms), 3u);
  EXPECT_GE(ms, 130);
  EXPECT_LT(ms, 2000);

  // MAXDWORD, MAXDWORD, constant: returns as soon as something came...
  {
    ptytest::PeerThread peer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      p.pty.WriteMaster(std::string("ij"));
    });
    EXPECT_EQ(TimedRead(p, {MAXDWORD, MAXDWORD, 3000, 0, 0}, 10, ms), 2u);
    EXPECT_GE(ms, 50);
    EXPECT_LT(ms, 2500);
  }
  // ...or after the constant with nothing.
  EXPECT_EQ(TimedRead(p, {MAXDWORD, MAXDWORD, 200, 0, 0}, 10, ms), 0u);
  EXPECT_GE(ms, 180);

  // Bytes that arrive during the wait are taken, in order.
  {
    ptytest::PeerThread peer([&] {
      for (char c : std::string("klmn")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        p.pty.WriteMaster(std::string(1, c));
      }
    });
    std::uint8_t got[4];
    ASSERT_TRUE(p.device->SetCommTimeouts({0, 0, 3000, 0, 0}));
    EXPECT_EQ(p.device->ReadOverlapped(got, 4), 4u);
    EXPECT_EQ(Bytes(got, got + 4), (Bytes{'k', 'l', 'm', 'n'}));
  }
}

TEST(PosixDeviceTransfer, PurgeRxAbortEndsAWaitingRead) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.device->SetCommTimeouts({0, 0, 20000, 0, 0}));
  std::atomic<double> ms{0};
  std::atomic<std::uint32_t> n{99};
  {
    ptytest::PeerThread reader([&] {
      std::uint8_t buffer[8];
      const auto start = Clock::now();
      n = p.device->ReadOverlapped(buffer, 8);
      ms = MillisecondsSince(start);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(p.device->PurgeComm(PURGE_RXABORT));
  }
  EXPECT_EQ(n.load(), 0u);
  EXPECT_LT(ms.load(), 5000);
}

TEST(PosixDeviceTransfer, WaitForInputReturnsWhenBytesArriveOrAfterItsTime) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  auto start = Clock::now();
  p.device->WaitForInput(150);
  EXPECT_GE(MillisecondsSince(start), 140);

  ptytest::PeerThread peer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    p.pty.WriteMaster(std::string("x"));
  });
  start = Clock::now();
  p.device->WaitForInput(10000);
  EXPECT_LT(MillisecondsSince(start), 5000);
  peer.Join();
  EXPECT_TRUE(WaitForQueued(*p.device, 1));

  // Room to write on a pseudo-terminal: no wait.
  start = Clock::now();
  p.device->WaitForOutputRoom(5000);
  EXPECT_LT(MillisecondsSince(start), 1000);
}

// ---------------------------------------------------------------------------------------------
// A line that was hung up (the other end closed, an adapter pulled)

TEST(PosixDeviceHangup, ReadReportsFailureWithTheSystemError) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  p.pty.CloseMaster();
  std::uint8_t buffer[4];
  errno = 0;
  EXPECT_EQ(p.device->ReadOverlapped(buffer, 4), CommDevice::kReadFailed);
  EXPECT_EQ(errno, EIO);
  EXPECT_TRUE(p.device->DeviceLost());
}

TEST(PosixDeviceHangup, WaitingReadHandsOverWhatCameBeforeTheHangup) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.device->SetCommTimeouts({0, 0, 20000, 0, 0}));
  ASSERT_TRUE(p.pty.WriteMaster(std::string("ab")));
  ASSERT_TRUE(WaitForQueued(*p.device, 2));
  std::atomic<double> ms{0};
  std::atomic<std::uint32_t> n{99};
  std::atomic<double> cpu{0};
  {
    ptytest::PeerThread reader([&] {
      std::uint8_t buffer[10];
      const auto start = Clock::now();
      timespec c0{}, c1{};
      clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c0);
      n = p.device->ReadOverlapped(buffer, 10);
      clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c1);
      ms = MillisecondsSince(start);
      cpu = (c1.tv_sec - c0.tv_sec) * 1e3 + (c1.tv_nsec - c0.tv_nsec) / 1e6;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    p.pty.CloseMaster();
  }
  EXPECT_EQ(n.load(), 2u);
  EXPECT_LT(ms.load(), 2000) << "the read must not wait out its 20 s on a dead line";
  EXPECT_LT(cpu.load(), 50) << "nor spin";
}

TEST(PosixDeviceHangup, BlockedWriteReturnsAtOnceWithWhatItMoved) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  // Fill the line so the next write has to wait for room.
  Bytes block(1 << 16, 0x55);
  while (p.device->WriteOverlapped(block.data(), std::uint32_t(block.size())) == block.size()) {
  }
  std::atomic<double> ms{0};
  std::atomic<std::uint32_t> moved{99};
  {
    ptytest::PeerThread writer([&] {
      const auto start = Clock::now();
      moved = p.device->WriteOverlapped(block.data(), std::uint32_t(block.size()));
      ms = MillisecondsSince(start);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    p.pty.CloseMaster();
  }
  EXPECT_EQ(moved.load(), 0u);
  EXPECT_LT(ms.load(), 600) << "a hung-up line must not hold the writer for its full second";
  EXPECT_TRUE(p.device->DeviceLost());

  const auto start = Clock::now();
  EXPECT_EQ(p.device->WriteOverlapped(block.data(), 10), 0u);
  EXPECT_LT(MillisecondsSince(start), 500);
}

TEST(PosixDeviceHangup, WaitsSleepInShortStepsWithoutSpinning) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  p.pty.CloseMaster();
  for (auto wait : {&CommDevice::WaitForInput, &CommDevice::WaitForOutputRoom}) {
    const auto start = Clock::now();
    int calls = 0;
    double slowest = 0;
    while (MillisecondsSince(start) < 200) {
      const auto one = Clock::now();
      ((*p.device).*wait)(5000);
      slowest = std::max(slowest, MillisecondsSince(one));
      ++calls;
    }
    EXPECT_TRUE(p.device->DeviceLost());
    EXPECT_LT(slowest, 500) << "a dead line must not keep the caller for its full time";
    EXPECT_LE(calls, 60) << "each wait must sleep a little, or the caller's loop spins";
  }
}

TEST(PosixDeviceHangup, SettingsCallsFailAndQueuesCountZero) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.pty.WriteMaster(std::string("lost")));
  ASSERT_TRUE(WaitForQueued(*p.device, 4));
  p.pty.CloseMaster();
  EXPECT_FALSE(p.device->SetCommState(PlainDcb()));
  DCB dcb;
  EXPECT_FALSE(p.device->GetCommState(dcb));
  EXPECT_TRUE(p.device->DeviceLost());
  EXPECT_FALSE(p.device->SetupComm(2048, 2048));
  EXPECT_FALSE(p.device->SetCommTimeouts({1, 0, 1, 0, 1}));
  std::uint32_t errors;
  COMSTAT status{1, 1, 1};
  EXPECT_FALSE(p.device->ClearCommError(errors, status));
  EXPECT_EQ(status.cbInQue, 0u) << "the driver drops unread bytes at a hangup";
  EXPECT_EQ(status.cbOutQue, 0u);
}

}  // namespace
}  // namespace xcom::testing
