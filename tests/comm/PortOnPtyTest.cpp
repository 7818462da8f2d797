// The component on a real pseudo-terminal: the same rules as on the recording double, now
// through the termios device, the monitor thread's epoll wait and real kernel queues.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "HostedComm.h"
#include "Overlapped.h"
#include "PlatformDevice.h"
#include "PtyPair.h"
#include "ServeUntil.h"
#include "Synchronizer.h"
#include "XComDrv.h"

using namespace xcom;
using namespace std::chrono_literals;
using ptytest::PtyPair;

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct PtyPort {
  PtyPair pty;
  TXComm port;
  PtyPort() { port.SetDeviceName(pty.SlavePath()); }
  tcflag_t CFlag() {
    termios t{};
    tcgetattr(pty.SlaveFd(), &t);
    return t.c_cflag;
  }
  tcflag_t IFlag() {
    termios t{};
    tcgetattr(pty.SlaveFd(), &t);
    return t.c_iflag;
  }
};

TEST(PortOnPty, OpenCloseReopen) {
  PtyPort p;
  ASSERT_TRUE(p.port.OpenDevice());
  p.port.CloseDevice();
  EXPECT_FALSE(p.port.Opened());
  ASSERT_TRUE(p.port.OpenDevice());
  EXPECT_TRUE(p.port.SendString(xcom::BytesOf("ok")));
  EXPECT_EQ(p.pty.ReadMaster(2), xcom::BytesOf("ok"));
}

TEST(PortOnPty, OpenIsExclusiveAcrossPortsAndProcesses) {
  PtyPort p;
  ASSERT_TRUE(p.port.OpenDevice());
  TXComm second;
  second.SetDeviceName(p.pty.SlavePath());
  EXPECT_FALSE(second.OpenDevice());
  EXPECT_FALSE(second.Opened());
  // Each port answers for its own last open, whatever other opens happened since.
  EXPECT_EQ(second.OpenFailureReason().reason, OpenFailure::Busy);
  TXComm absent;
  absent.SetDeviceName("/dev/no-such-device-xyz");
  EXPECT_FALSE(absent.OpenDevice());
  EXPECT_EQ(absent.OpenFailureReason().reason, OpenFailure::NoSuchDevice);
  EXPECT_EQ(second.OpenFailureReason().reason, OpenFailure::Busy);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(OpenPlatformDevice(p.pty.SlavePath()) == nullptr ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process opened it";

  p.port.CloseDevice();
  EXPECT_TRUE(second.OpenDevice()) << "free again after close";
  EXPECT_EQ(second.OpenFailureReason().reason, OpenFailure::None);
}

TEST(PortOnPty, NamesThatAreNotTerminalsAnswerFalse) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("xcomtest-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "regular") << "not a device";
  mkfifo((dir / "fifo").c_str(), 0600);
  for (const std::string& name :
       {(dir / "regular").string(), dir.string(), (dir / "fifo").string(), std::string("/dev/null"),
        (dir / "absent").string(), std::string("no-such-device-xyz")}) {
    TXComm port;
    port.SetDeviceName(name);
    EXPECT_FALSE(port.OpenDevice()) << name;
    EXPECT_FALSE(port.Opened()) << name;
  }
  std::filesystem::remove_all(dir);
}

TEST(PortOnPty, CustomBaudAndCharacterFormatReachTheDevice) {
  PtyPort p;
  p.port.SetBaudRate(brCustom);
  p.port.SetBaudValue(76800);
  p.port.DataControl().SetDataBits(db7);
  p.port.DataControl().SetParity(paEven);
  p.port.DataControl().SetStopBits(sb2);
  ASSERT_TRUE(p.port.OpenDevice());
  EXPECT_EQ(p.port.BaudValue(), 76800u);
  EXPECT_EQ(p.port.BaudRate(), brCustom);
  EXPECT_EQ(p.port.DataControl().DataBits(), db7);
  EXPECT_EQ(p.port.DataControl().Parity(), paEven);
  // A pseudo-terminal forces 8 data bits and no parity in its termios (the mapping itself is
  // tested on the platform layer); stop bits do reach it.
  EXPECT_TRUE(p.CFlag() & CSTOPB);
  p.port.DataControl().SetStopBits(sb1);  // re-applied at once on the open port
  EXPECT_FALSE(p.CFlag() & CSTOPB);
  p.port.SetBaudRate(br115200);
  EXPECT_EQ(p.port.BaudValue(), 115200u);
  EXPECT_EQ(p.port.BaudRate(), br115200);
}

TEST(PortOnPty, FlowControlReachesTermios) {
  PtyPort p;
  p.port.SetFlowControl(fcRtsCts);
  ASSERT_TRUE(p.port.OpenDevice());
  EXPECT_TRUE(p.CFlag() & CRTSCTS);
  EXPECT_EQ(p.port.RTSSettings(), (TRTSSettings{fsCTSOut, fsRTSHandshake}));
  p.port.SetFlowControl(fcSoftware);
  EXPECT_FALSE(p.CFlag() & CRTSCTS);
  EXPECT_EQ(p.IFlag() & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
  EXPECT_EQ(p.port.XOnXOffSettings(), (TXOnXOffSettings{fsInX, fsOutX}));
  p.port.SetFlowControl(fcNone);
  EXPECT_EQ(p.IFlag() & (IXON | IXOFF), tcflag_t(0));
}

TEST(PortOnPty, UnsupportedSettingMakesOpenRaiseCode3ButStayOpen) {
  PtyPort p;
  p.port.DataControl().SetDataBits(db4);
  try {
    p.port.OpenDevice();
    FAIL() << "no exception";
  } catch (const EDeviceError& e) {
    EXPECT_EQ(e.ErrorCode(), 3);
    EXPECT_STREQ(e.what(), "Unable to update device control block.");
  }
  EXPECT_TRUE(p.port.Opened());
  p.port.CloseDevice();
}

TEST(PortOnPty, RoundTripWithZeroBytesAndQueueCounts) {
  PtyPort p;
  ASSERT_TRUE(p.port.OpenDevice());
  EXPECT_EQ(p.port.QueueCount(0), 0u);
  EXPECT_EQ(p.port.QueueCount(1), 0u);
  const xcom::ByteString frame{0x64, 0x03, 0x00, 0x10, 0x00, 0x02, 0xCC, 0x3B};
  EXPECT_TRUE(p.port.SendString(frame));
  EXPECT_EQ(p.pty.ReadMaster(frame.size()), frame);

  const xcom::ByteString reply{0x64, 0x03, 0x04, 0x00, 0x01, 0x00, 0x00, 0x9E, 0xF5};
  ASSERT_TRUE(p.pty.WriteMaster(reply));
  ASSERT_TRUE(ServeUntil([&] { return p.port.QueueCount(0) == reply.size(); }));
  xcom::ByteString got;
  EXPECT_TRUE(p.port.ReadString(got));
  EXPECT_EQ(got, reply);
  EXPECT_FALSE(p.port.ReadString(got));
  EXPECT_TRUE(got.empty());
}

TEST(PortOnPty, ReadStringTakesOnlyWhatWasQueuedAtItsStart) {
  PtyPort p;
  ASSERT_TRUE(p.port.OpenDevice());
  ASSERT_TRUE(p.pty.WriteMaster(xcom::BytesOf("abc")));
  ASSERT_TRUE(ServeUntil([&] { return p.port.QueueCount(0) == 3; }));
  p.port.SetOnRead([&](TCustomComm*) { p.pty.WriteMaster(xcom::BytesOf("de")); });
  xcom::ByteString got;
  EXPECT_TRUE(p.port.ReadString(got));
  EXPECT_EQ(got, xcom::BytesOf("abc"));
  p.port.SetOnRead({});
  ASSERT_TRUE(ServeUntil([&] { return p.port.QueueCount(0) == 2; }));
  EXPECT_TRUE(p.port.ReadString(got));
  EXPECT_EQ(got, xcom::BytesOf("de"));
}

TEST(PortOnPty, SendIntoAPeerThatNeverReadsTimesOutWithTheCountSoFar) {
  PtyPort p;
  p.port.Buffers().SetOutputTimeout(300);
  ASSERT_TRUE(p.port.OpenDevice());
  xcom::ByteString big(4 << 20, 0xA5);
  int outEmpty = 0;
  p.port.SetOnCommEvent([&](TCustomComm*, TDeviceEvents e) {
    if (e.Contains(deOutEmpty)) ++outEmpty;
  });
  const auto start = Clock::now();
  const std::uint32_t sent = p.port.SendData(big.data(), static_cast<std::uint32_t>(big.size()));
  const auto elapsed = Clock::now() - start;
  EXPECT_GT(sent, 0u);
  EXPECT_LT(sent, big.size());
  EXPECT_GE(elapsed, 300ms);
  EXPECT_LT(elapsed, 4000ms) << "at most one write attempt of 1000 ms beyond the time-out";
  EXPECT_GE(outEmpty, 2) << "one deOutEmpty per write attempt";
  EXPECT_EQ(p.pty.DrainMaster().size(), sent);
}

TEST(PortOnPty, DataArrivalIsDeliveredOnceOnTheMainThread) {
  PtyPort p;
  std::atomic<int> calls = 0;
  std::atomic<std::uint32_t> last = 0;
  std::thread::id where;
  p.port.SetOnData([&](TCustomComm*, std::uint32_t received) {
    ++calls;
    last = received;
    where = std::this_thread::get_id();
  });
  ASSERT_TRUE(p.port.OpenDevice());
  ASSERT_TRUE(p.pty.WriteMaster(xcom::BytesOf("12345")));
  ASSERT_TRUE(ServeUntil([&] { return calls > 0; }));
  // The bytes stay unread: no further deliveries for them.
  ServeUntil([] { return false; }, 300ms);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(last, 5u);
  EXPECT_EQ(where, std::this_thread::get_id());
  ASSERT_TRUE(p.pty.WriteMaster(xcom::BytesOf("6")));
  ASSERT_TRUE(ServeUntil([&] { return calls == 2; }));
  EXPECT_EQ(last, 6u);
}

// A read that waits on the main thread while a synchronised delivery waits for that thread:
// the read still gets every byte in order within its time-out, and the delivery runs after.
// On another thread, with deliveries on the monitor thread, a long stream arrives whole.
TEST(PortOnPty, ReadDataBesideTheMonitorsDeliveries) {
  PtyPort p;
  std::atomic<int> calls = 0;
  p.port.SetOnData([&](TCustomComm*, std::uint32_t) { ++calls; });
  ASSERT_TRUE(p.port.OpenDevice());
  ptytest::PeerThread peer([&] {
    std::this_thread::sleep_for(30ms);
    p.pty.WriteMaster(xcom::BytesOf("12345"));
    std::this_thread::sleep_for(50ms);
    p.pty.WriteMaster(xcom::BytesOf("67890"));
  });
  xcom::ByteString got(10, 0);
  const auto start = Clock::now();
  EXPECT_EQ(p.port.ReadData(got.data(), 10, 5000), 10u);
  EXPECT_LT(Clock::now() - start, 3000ms);
  EXPECT_EQ(got, xcom::BytesOf("1234567890"));
  peer.Join();
  EXPECT_TRUE(ServeUntil([&] { return calls > 0; }));

  p.port.SetSynchronize(false);
  xcom::ByteString sent(256 * 1024);
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>(i * 7 % 251);
  ptytest::PeerThread writer([&] {
    for (std::size_t at = 0, step = 1; at < sent.size(); at += step, step = step * 3 % 9001 + 1)
      p.pty.WriteMaster(
          xcom::ByteString(sent.begin() + at, sent.begin() + std::min(at + step, sent.size())));
  });
  xcom::ByteString stream(sent.size(), 0);
  std::uint32_t total = 0;
  std::thread reader([&] {
    for (std::uint32_t n = 1; n > 0 && total < stream.size();) {
      n = p.port.ReadData(stream.data() + total, std::uint32_t(stream.size() - total), 5000);
      total += n;
    }
  });
  reader.join();
  writer.Join();
  EXPECT_EQ(total, sent.size());
  EXPECT_EQ(stream, sent);
}

TEST(PortOnPty, UnreadBytesCostNoCpu) {
  PtyPort p;
  std::atomic<int> calls = 0;
  p.port.SetOnData([&](TCustomComm*, std::uint32_t) { ++calls; });
  ASSERT_TRUE(p.port.OpenDevice());
  ASSERT_TRUE(p.pty.WriteMaster(xcom::BytesOf("left unread")));
  ASSERT_TRUE(ServeUntil([&] { return calls > 0; }));
  const double before = CpuSeconds();
  std::this_thread::sleep_for(500ms);
  Synchronizer::Instance().CheckSynchronize();
  EXPECT_LT(CpuSeconds() - before, 0.1);
  EXPECT_EQ(calls, 1);
}

TEST(PortOnPty, HangupEndsTheMonitorWithoutABusyLoop) {
  PtyPort p;
  std::atomic<int> calls = 0;
  p.port.SetOnData([&](TCustomComm*, std::uint32_t) { ++calls; });
  ASSERT_TRUE(p.port.OpenDevice());
  p.pty.CloseMaster();
  const double before = CpuSeconds();
  ServeUntil([] { return false; }, 500ms);
  EXPECT_LT(CpuSeconds() - before, 0.2);
  EXPECT_TRUE(p.port.Opened()) << "the port stays open until closed";
  // A send to the vanished line ends quickly instead of waiting out its time-out.
  const auto start = Clock::now();
  p.port.SendString(xcom::BytesOf("anyone?"));
  EXPECT_LT(Clock::now() - start, 2000ms);
  const auto closeStart = Clock::now();
  p.port.CloseDevice();
  EXPECT_LT(Clock::now() - closeStart, 1000ms);
}

TEST(PortOnPty, AFailedReadRaisesCode10WithTheSystemText) {
  ptytest::PtyPair pty;
  auto device = OpenPlatformDevice(pty.SlavePath());
  ASSERT_TRUE(device);
  pty.CloseMaster();
  std::uint8_t buffer[4];
  try {
    ReadOverlapped(*device, buffer, 4);
    FAIL() << "no error raised";
  } catch (const EDeviceError& e) {
    EXPECT_EQ(e.ErrorCode(), 10);
    EXPECT_EQ(e.Message(), "Unable to read from port. (Win32 error 5: Input/output error)");
  }
}

TEST(PortOnPty, NoDescriptorLeftForTheMonitorIsAFailedOpen) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizers' runtime checks memory through a pipe of its own, which the tight limit
  // below would refuse: its checks would then report faults that are not there.
  GTEST_SKIP() << "the sanitizers need descriptors of their own";
#endif
  ptytest::PtyPair pty;
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  // The device opens; then no descriptor is left for the monitor's stop signal.
  THostedComm port([&](const std::string& name) {
    auto device = OpenPlatformDevice(name);
    const int lowestFree = ::open("/dev/null", O_RDONLY);
    ::close(lowestFree);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);
    ::setrlimit(RLIMIT_NOFILE, &tight);
    return device;
  });
  port.SetDeviceName(pty.SlavePath());
  const bool opened = port.OpenDevice();
  ::setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_FALSE(opened);
  EXPECT_FALSE(port.Opened());
  EXPECT_EQ(port.OpenFailureReason().reason, OpenFailure::Other);
  EXPECT_EQ(port.OpenFailureReason().systemError, EMFILE);
}

TEST(PortOnPty, ClosingWhileADeliveryWaitsForTheMainThread) {
  PtyPort p;
  std::atomic<int> calls = 0;
  p.port.SetOnData([&](TCustomComm*, std::uint32_t) { ++calls; });
  ASSERT_TRUE(p.port.OpenDevice());
  ASSERT_TRUE(p.pty.WriteMaster(xcom::BytesOf("x")));
  std::this_thread::sleep_for(100ms);  // the monitor now waits for this thread
  p.port.CloseDevice();
  EXPECT_EQ(calls, 1);
}

TEST(PortOnPty, DestroyingAnOpenPortStopsEverything) {
  PtyPair pty;
  {
    TXComm port;
    port.SetDeviceName(pty.SlavePath());
    ASSERT_TRUE(port.OpenDevice());
    pty.WriteMaster(xcom::BytesOf("pending"));
  }
  TXComm again;
  again.SetDeviceName(pty.SlavePath());
  EXPECT_TRUE(again.OpenDevice()) << "the lock was released";
}

}  // namespace

namespace {

// A thousand open/close cycles while the other end streams bytes and deliveries are waiting for
// this thread: every close must finish, and (in the sanitizer builds) nothing may leak or race.
TEST(PortOnPty, ThousandOpenCloseCyclesWhileThePeerStreams) {
  PtyPair pty;
  std::atomic<bool> streaming = true;
  ptytest::PeerThread peer([&] {
    const xcom::ByteString reply{0x64, 0x03, 0x04, 0x00, 0x01, 0x00, 0x00, 0x9E, 0xF5};
    while (streaming) {
      // A reply the full master cannot take is simply not sent: the port must cope either way.
      [[maybe_unused]] const ssize_t sent = ::write(pty.MasterFd(), reply.data(), reply.size());
      ptytest::PtyPair::ReadUpTo(pty.MasterFd(), 4096, 0);  // keep the port's writes flowing
      std::this_thread::sleep_for(200us);
    }
  });
  TXComm port;
  port.SetDeviceName(pty.SlavePath());
  std::atomic<int> deliveries = 0;
  port.SetOnData([&](TCustomComm*, std::uint32_t) { ++deliveries; });
  const auto start = Clock::now();
  for (int cycle = 0; cycle < 1000; ++cycle) {
    ASSERT_TRUE(port.OpenDevice()) << "cycle " << cycle;
    if (cycle % 3 == 0) Synchronizer::Instance().CheckSynchronize();
    if (cycle % 5 == 0) port.SendString(xcom::BytesOf("ping"));
    if (cycle % 7 == 0) {
      xcom::ByteString got;
      port.ReadString(got);
    }
    port.CloseDevice();
  }
  // Quick cycles may close before their monitor reports anything; one more open waits for a
  // delivery, so that the cycles are known to have run with the data event live.
  ASSERT_TRUE(port.OpenDevice());
  EXPECT_TRUE(ServeUntil([&] { return deliveries > 0; }));
  port.CloseDevice();
  streaming = false;
  peer.Join();
  EXPECT_LT(Clock::now() - start, 120s);
}

}  // namespace
