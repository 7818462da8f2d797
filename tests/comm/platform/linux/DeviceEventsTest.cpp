// WaitCommEvent on pseudo-terminals: one deChar per arrival, no wakeups while bytes stay
// unread, deFlag and deIn80Full, the stop signal, a hangup, and the monitor thread working
// beside a thread that reads; and the wait underneath, on a bare pty.
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "DeviceEventWait.h"
#include "PlatformTestSupport.h"
#include "Wakeup.h"

namespace xcom::testing {
namespace {

constexpr std::uint32_t kMonitorMask = 0x1FFB;
constexpr std::uint32_t EV_RXCHAR = 0x0001, EV_RXFLAG = 0x0002, EV_RX80FULL = 0x0400;

// A monitor thread as the component runs it: waits, records each event set, until the wait
// answers Stopped or Failed.
class Monitor {
 public:
  explicit Monitor(CommDevice& device) : device_(device), thread_([this] { Run(); }) {}
  ~Monitor() { Stop(); }

  void Stop() {
    stop_.Set();
    if (thread_.joinable()) thread_.join();
  }
  std::vector<std::uint32_t> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::size_t Count() const { return Events().size(); }
  bool WaitForCount(std::size_t n) {
    return WaitUntil([&] { return Count() >= n; });
  }
  // OR of the sets recorded from index `from` on.
  std::uint32_t Merged(std::size_t from) const {
    std::uint32_t all = 0;
    const auto events = Events();
    for (std::size_t i = from; i < events.size(); ++i) all |= events[i];
    return all;
  }
  bool Ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
  }
  WaitOutcome EndedWith() const {
    std::lock_guard lock(mutex_);
    return outcome_;
  }
  // CPU time the monitor thread has used so far (valid while it runs).
  double CpuMs() {
    clockid_t clock;
    if (pthread_getcpuclockid(thread_.native_handle(), &clock) != 0) return -1;
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
  }

 private:
  void Run() {
    for (;;) {
      std::uint32_t mask = 0;
      const WaitOutcome outcome = device_.WaitCommEvent(stop_, mask);
      std::lock_guard lock(mutex_);
      if (outcome != WaitOutcome::Events) {
        ended_ = true;
        outcome_ = outcome;
        return;
      }
      events_.push_back(mask);
    }
  }

  CommDevice& device_;
  StopSignal stop_;
  mutable std::mutex mutex_;
  std::vector<std::uint32_t> events_;
  bool ended_ = false;
  WaitOutcome outcome_ = WaitOutcome::Events;
  std::thread thread_;
};

Bytes ReadAll(CommDevice& device, std::uint32_t count) {
  Bytes got(count);
  got.resize(device.ReadOverlapped(got.data(), count));
  return got;
}

TEST(DeviceEvents, OneDeCharPerArrivalWhileOlderBytesStayUnread) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.device->SetCommMask(kMonitorMask));
  Monitor monitor(*p.device);
  const std::string sent = "abcde";
  for (std::size_t i = 0; i < sent.size(); ++i) {
    ASSERT_TRUE(p.pty.WriteMaster(sent.substr(i, 1)));
    ASSERT_TRUE(monitor.WaitForCount(i + 1)) << "no event for arrival " << i;
  }
  const double cpuBefore = monitor.CpuMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(monitor.CpuMs() - cpuBefore, 30) << "the monitor must sleep while bytes wait";
  const auto events = monitor.Events();
  ASSERT_EQ(events.size(), sent.size()) << "no further wakeup while the bytes stay unread";
  for (std::uint32_t mask : events) EXPECT_EQ(mask, EV_RXCHAR);

  EXPECT_EQ(InputCount(*p.device), sent.size());
  EXPECT_EQ(ReadAll(*p.device, 5), BytesOf(sent));
  EXPECT_EQ(InputCount(*p.device), 0u);
}

TEST(DeviceEvents, MaskedOutArrivalsNeitherReportNorSpin) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.device->SetCommMask(EV_RXFLAG));
  DCB dcb = PlainDcb();
  dcb.EvtChar = '\n';
  ASSERT_TRUE(p.device->SetCommState(dcb));
  Monitor monitor(*p.device);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(p.pty.WriteMaster(std::string("data")));
  ASSERT_TRUE(WaitForQueued(*p.device, 20));
  const double cpuBefore = monitor.CpuMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(monitor.CpuMs() - cpuBefore, 30);
  EXPECT_EQ(monitor.Count(), 0u);

  // The event character is seen although the bytes before it were never read.
  ASSERT_TRUE(p.pty.WriteMaster(std::string("end\n")));
  ASSERT_TRUE(monitor.WaitForCount(1));
  EXPECT_EQ(monitor.Events()[0], EV_RXFLAG);
  EXPECT_EQ(ReadAll(*p.device, 24), BytesOf("datadatadatadatadataend\n"));
}

TEST(DeviceEvents, EventCharacterAddsDeFlag) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  DCB dcb = PlainDcb();
  dcb.EvtChar = '\n';
  ASSERT_TRUE(p.device->SetCommState(dcb));
  ASSERT_TRUE(p.device->SetCommMask(kMonitorMask));
  Monitor monitor(*p.device);
  ASSERT_TRUE(p.pty.WriteMaster(std::string("abc")));
  ASSERT_TRUE(monitor.WaitForCount(1));
  ASSERT_TRUE(WaitForQueued(*p.device, 3));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(monitor.Merged(0), EV_RXCHAR);
  const std::size_t before = monitor.Count();
  ASSERT_TRUE(p.pty.WriteMaster(std::string("x\ny")));
  ASSERT_TRUE(WaitForQueued(*p.device, 6));
  ASSERT_TRUE(WaitUntil([&] { return (monitor.Merged(before) & EV_RXFLAG) != 0; }));
  EXPECT_EQ(monitor.Merged(before), EV_RXCHAR | EV_RXFLAG);
}

TEST(DeviceEvents, In80FullWhenTheQueueCrossesEightyPercent) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.device->SetupComm(100, 100));
  ASSERT_TRUE(p.device->SetCommMask(kMonitorMask));
  Monitor monitor(*p.device);
  // Sends `n` bytes and answers the events they made once the monitor has seen them all.
  std::uint32_t queued = 0;
  auto send = [&](std::uint32_t n) {
    const std::size_t from = monitor.Count();
    EXPECT_TRUE(p.pty.WriteMaster(Bytes(n, 'z')));
    queued += n;
    EXPECT_TRUE(WaitForQueued(*p.device, queued));
    EXPECT_TRUE(monitor.WaitForCount(from + 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return monitor.Merged(from);
  };
  EXPECT_EQ(send(79) & EV_RX80FULL, 0u);
  EXPECT_EQ(send(1) & EV_RX80FULL, EV_RX80FULL) << "80 of 100";
  EXPECT_EQ(send(5) & EV_RX80FULL, 0u) << "reported when crossing the mark, not on every arrival";
  EXPECT_EQ(ReadAll(*p.device, queued).size(), 85u);
  queued = 0;
  EXPECT_EQ(send(10) & EV_RX80FULL, 0u);
  EXPECT_EQ(send(75) & EV_RX80FULL, EV_RX80FULL) << "crossing again after falling below";
}

TEST(DeviceEvents, ArrivalsWithoutAPendingWaitGoToTheNextWait) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.device->SetCommMask(kMonitorMask));
  ASSERT_TRUE(p.pty.WriteMaster(std::string("q")));
  ASSERT_TRUE(WaitForQueued(*p.device, 1));
  StopSignal stop;
  std::uint32_t mask = 0;
  const auto start = Clock::now();
  EXPECT_EQ(p.device->WaitCommEvent(stop, mask), WaitOutcome::Events);
  EXPECT_EQ(mask, EV_RXCHAR);
  EXPECT_LT(MillisecondsSince(start), 1000);
}

TEST(DeviceEvents, StopSignalWinsAndEndsTheWaitAtOnce) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.device->SetCommMask(kMonitorMask));
  {
    Monitor monitor(*p.device);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = Clock::now();
    monitor.Stop();
    EXPECT_LT(MillisecondsSince(start), 500);
    EXPECT_EQ(monitor.EndedWith(), WaitOutcome::Stopped);
    EXPECT_EQ(monitor.Count(), 0u);
  }
  // Bytes pending and the stop signal set: the stop signal wins.
  ASSERT_TRUE(p.pty.WriteMaster(std::string("x")));
  ASSERT_TRUE(WaitForQueued(*p.device, 1));
  StopSignal stop;
  EXPECT_FALSE(stop.IsSet());
  stop.Set();
  EXPECT_TRUE(stop.IsSet());
  std::uint32_t mask = 77;
  EXPECT_EQ(p.device->WaitCommEvent(stop, mask), WaitOutcome::Stopped);
  EXPECT_EQ(mask, 0u);
  EXPECT_TRUE(stop.IsSet()) << "a manual-reset signal stays set";
}

TEST(DeviceEvents, EachMonitorMayBringItsOwnStopSignal) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.device->SetCommMask(kMonitorMask));
  for (int round = 0; round < 3; ++round) {
    Monitor monitor(*p.device);
    ASSERT_TRUE(p.pty.WriteMaster(std::string("r")));
    ASSERT_TRUE(monitor.WaitForCount(1)) << round;
    monitor.Stop();
    EXPECT_EQ(monitor.EndedWith(), WaitOutcome::Stopped);
  }
}

TEST(DeviceEvents, ChangingTheMaskCompletesAPendingWait) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.device->SetCommMask(kMonitorMask));
  Monitor monitor(*p.device);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(p.device->SetCommMask(0));
  ASSERT_TRUE(monitor.WaitForCount(1));
  EXPECT_EQ(monitor.Events()[0], 0u);
  // With the mask cleared, arrivals report nothing.
  ASSERT_TRUE(p.pty.WriteMaster(std::string("n")));
  ASSERT_TRUE(WaitForQueued(*p.device, 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(monitor.Count(), 1u);
}

TEST(DeviceEvents, HangupFailsTheWaitAndEveryLaterOne) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.device->SetCommMask(kMonitorMask));
  Monitor monitor(*p.device);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  p.pty.CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return monitor.Ended(); }));
  EXPECT_EQ(monitor.EndedWith(), WaitOutcome::Failed);
  EXPECT_TRUE(p.device->DeviceLost());
  // A monitor that waited again would not sleep forever nor spin: it fails at once.
  StopSignal stop;
  std::uint32_t mask = 0;
  const auto start = Clock::now();
  EXPECT_EQ(p.device->WaitCommEvent(stop, mask), WaitOutcome::Failed);
  EXPECT_LT(MillisecondsSince(start), 500);
}

TEST(DeviceEvents, HangupWithBytesUnreadStillFails) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.device->SetCommMask(kMonitorMask));
  Monitor monitor(*p.device);
  ASSERT_TRUE(p.pty.WriteMaster(std::string("unread")));
  ASSERT_TRUE(monitor.WaitForCount(1));
  p.pty.CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return monitor.Ended(); }));
  EXPECT_EQ(monitor.EndedWith(), WaitOutcome::Failed);
}

TEST(DeviceEvents, HeldAndDriverBytesComeOutInArrivalOrder) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.device->SetupComm(128, 128));  // the monitor holds at most 128 bytes
  ASSERT_TRUE(p.device->SetCommMask(kMonitorMask));
  Monitor monitor(*p.device);
  Bytes sent(1000);
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>(i % 253);
  for (std::size_t at = 0; at < sent.size(); at += 100) {
    ASSERT_TRUE(p.pty.WriteMaster(Bytes(sent.begin() + at, sent.begin() + at + 100)));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(WaitForQueued(*p.device, 1000));
  EXPECT_EQ(InputCount(*p.device), 1000u);
  Bytes got;
  for (std::uint32_t part : {50u, 300u, 650u}) {
    const Bytes piece = ReadAll(*p.device, part);
    got.insert(got.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(got, sent);

  // A purge drops held bytes as well as the driver's.
  ASSERT_TRUE(p.pty.WriteMaster(Bytes(300, 1)));
  ASSERT_TRUE(WaitForQueued(*p.device, 300));
  ASSERT_TRUE(p.device->PurgeComm(PURGE_RXCLEAR));
  EXPECT_EQ(InputCount(*p.device), 0u);
}

TEST(DeviceEvents, WaitingReaderWakesWhenTheMonitorTakesTheBytes) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.device->SetCommMask(kMonitorMask));
  ASSERT_TRUE(p.device->SetCommTimeouts({0, 0, 10000, 0, 0}));
  Monitor monitor(*p.device);
  for (int round = 0; round < 10; ++round) {
    ptytest::PeerThread peer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      p.pty.WriteMaster(std::string("wake"));
    });
    auto start = Clock::now();
    std::uint8_t got[4];
    ASSERT_EQ(p.device->ReadOverlapped(got, 4), 4u) << round;
    EXPECT_LT(MillisecondsSince(start), 3000) << round;
    peer.Join();

    ptytest::PeerThread second([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      p.pty.WriteMaster(std::string("!"));
    });
    start = Clock::now();
    p.device->WaitForInput(10000);
    EXPECT_LT(MillisecondsSince(start), 3000) << round;
    second.Join();
    ASSERT_TRUE(WaitForQueued(*p.device, 1));
    EXPECT_EQ(ReadAll(*p.device, 1), Bytes{'!'});
  }
}

// The overlapped read: the queued bytes at once (held ones and those left in the driver beside
// a full held buffer, which raise no new arrival), then arrivals through the monitor.
TEST(DeviceEvents, HandedReadTakesTheQueueThenTheMonitorFillsIt) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.device->SetupComm(128, 128));
  ASSERT_TRUE(p.device->SetCommMask(kMonitorMask));
  Bytes sent(400);
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>(i % 251);
  ASSERT_TRUE(p.pty.WriteMaster(Bytes(sent.begin(), sent.begin() + 300)));
  ASSERT_TRUE(WaitForQueued(*p.device, 300));
  Bytes got(400);
  EXPECT_EQ(p.device->ReadWhenArrived(got.data(), 300, 5000, false), CommDevice::kNotHandedOver)
      << "no monitor waits";
  Monitor monitor(*p.device);
  ASSERT_TRUE(monitor.WaitForCount(1));
  auto start = Clock::now();
  // The first piece comes out of the held buffer alone; the second still finds the driver's.
  ASSERT_EQ(p.device->ReadWhenArrived(got.data(), 100, 5000, false), 100u);
  ASSERT_EQ(p.device->ReadWhenArrived(got.data() + 100, 200, 5000, false), 200u);
  EXPECT_LT(MillisecondsSince(start), 2000);

  ptytest::PeerThread peer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    p.pty.WriteMaster(Bytes(sent.begin() + 300, sent.end()));
  });
  start = Clock::now();
  ASSERT_EQ(p.device->ReadWhenArrived(got.data() + 300, 100, 5000, false), 100u);
  EXPECT_LT(MillisecondsSince(start), 2000);
  EXPECT_EQ(got, sent);
  EXPECT_TRUE(monitor.WaitForCount(2)) << "the arrival is still reported";
}

// Whatever ends a handed read early hands back the bytes it holds at once.
TEST(DeviceEvents, PurgeHandBackAndStopEndAHandedRead) {
  for (int ender = 0; ender < 3; ++ender) {
    OpenPty p;
    ASSERT_TRUE(p.device);
    ASSERT_TRUE(p.device->SetCommMask(kMonitorMask));
    Monitor monitor(*p.device);
    ASSERT_TRUE(p.pty.WriteMaster(std::string("ab")));
    ASSERT_TRUE(monitor.WaitForCount(1));
    ASSERT_TRUE(WaitForQueued(*p.device, 2));
    std::uint8_t got[10] = {};
    std::atomic<std::uint32_t> n{0};
    std::atomic<bool> returned{false};
    ptytest::PeerThread reader([&] {
      // Until the monitor has come back to its wait, the read stays with its caller.
      while ((n = p.device->ReadWhenArrived(got, sizeof got, 10000, false)) ==
             CommDevice::kNotHandedOver)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      returned = true;
    });
    // Out of the queue: the read took the two bytes and waits for eight more.
    ASSERT_TRUE(WaitUntil([&] { return InputCount(*p.device) == 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned) << "a read with room left waits for more";
    const auto start = Clock::now();
    if (ender == 0) {
      EXPECT_TRUE(p.device->PurgeComm(PURGE_RXABORT | PURGE_RXCLEAR));
    } else if (ender == 1) {
      p.device->HandBackReads();
    } else {
      monitor.Stop();
    }
    ASSERT_TRUE(WaitUntil([&] { return returned.load(); })) << ender;
    reader.Join();
    EXPECT_LT(MillisecondsSince(start), 3000) << ender;
    EXPECT_EQ(n.load(), 2u) << ender;
    EXPECT_EQ(Bytes(got, got + 2), BytesOf("ab")) << ender;
    if (ender > 0) {  // taken back: no read is handed over until the monitor waits anew
      EXPECT_EQ(p.device->ReadWhenArrived(got, sizeof got, 10000, false),
                CommDevice::kNotHandedOver);
    }
  }
}

TEST(DeviceEvents, MonitorBesideAThreadThatReadsWritesAndReconfigures) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  ASSERT_TRUE(p.device->SetupComm(256, 256));
  ASSERT_TRUE(p.device->SetCommMask(kMonitorMask));
  Monitor monitor(*p.device);
  std::atomic<bool> done{false};
  std::atomic<std::size_t> sent{0};
  ptytest::PeerThread peer([&] {
    std::uint8_t next = 0;
    while (!done) {
      Bytes chunk(37);
      for (auto& b : chunk) b = next++;
      if (p.pty.WriteMaster(chunk, 100)) sent += chunk.size();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  // The reader checks that what it gets continues the sequence; a purge restarts the check.
  Bytes got;
  bool inOrder = true;
  int expected = -1;
  const auto start = Clock::now();
  int round = 0;
  while (MillisecondsSince(start) < 400) {
    std::uint32_t errors;
    COMSTAT status{};
    p.device->ClearCommError(errors, status);
    const Bytes piece = ReadAll(*p.device, std::min<std::uint32_t>(status.cbInQue, 100));
    for (std::uint8_t b : piece) {
      if (expected >= 0 && b != expected) inOrder = false;
      expected = std::uint8_t(b + 1);
    }
    got.insert(got.end(), piece.begin(), piece.end());
    const std::uint8_t echo[] = {1, 2, 3};
    p.device->WriteOverlapped(echo, 3);
    p.pty.DrainMaster(0);
    if (++round % 50 == 0) {
      DCB dcb = PlainDcb();
      dcb.EvtChar = static_cast<char>(round);
      EXPECT_TRUE(p.device->SetCommState(dcb));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  done = true;
  peer.Join();
  monitor.Stop();
  EXPECT_EQ(monitor.EndedWith(), WaitOutcome::Stopped);
  EXPECT_TRUE(inOrder) << "bytes taken by the monitor and by the reader were reordered";
  EXPECT_GT(got.size(), 0u);
  EXPECT_LE(got.size(), sent.load());
  EXPECT_GT(monitor.Count(), 0u);
}

// The monitor's wait itself, on a bare pty, with nothing it watches ready: it lasts its time and
// answers true with nothing ready (on a real UART that is the line-sampling step), also after
// a stop signal, still set, was replaced by another (else the old one wakes it: a spinning
// monitor).
TEST(DeviceEventWait, NothingReadyLastsTheTimeOutAndAnswersNothing) {
  for (const bool replacedSetStop : {false, true}) {
    ptytest::PtyPair pty;
    const std::unique_ptr<Wakeup> mask = MakeWakeup();
    ASSERT_TRUE(mask);
    const auto wait = MakeDeviceEventWait(pty.SlaveFd(), mask->Descriptor());
    StopSignal first;
    StopSignal second;
    ASSERT_TRUE(wait && wait->Watch(first));
    if (replacedSetStop) {
      first.Set();
      ASSERT_TRUE(wait->Watch(second));
    }
    const auto start = Clock::now();
    ReadyEvents ready;
    ready.hangUp = true;  // every flag is answered, not only the ones that are set
    EXPECT_TRUE(wait->Wait(50, ready)) << replacedSetStop;
    EXPECT_FALSE(ready.stop || ready.maskChanged || ready.input || ready.hangUp) << replacedSetStop;
    EXPECT_GE(MillisecondsSince(start), 45) << replacedSetStop;
  }
}

}  // namespace
}  // namespace xcom::testing
