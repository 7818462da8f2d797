// The monitor thread and event delivery: which handlers run, in which thread, and closing
// while a delivery waits for the main thread.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "FakeDevice.h"
#include "ServeUntil.h"
#include "Synchronizer.h"

using namespace xcom;
using namespace std::chrono_literals;
using xcom::testing::FakePort;

namespace {

struct Recorder {
  std::mutex mutex;
  std::vector<std::string> calls;
  std::vector<std::thread::id> threads;
  void Add(std::string call) {
    std::lock_guard lock(mutex);
    calls.push_back(std::move(call));
    threads.push_back(std::this_thread::get_id());
  }
  std::size_t Count() {
    std::lock_guard lock(mutex);
    return calls.size();
  }
};

struct MonitoredPort : FakePort {
  Recorder recorder;
  MonitoredPort() {
    port.SetDeviceName("dev");
    port.SetOnData(
        [this](TCustomComm*, std::uint32_t n) { recorder.Add("data " + std::to_string(n)); });
    port.SetOnCommEvent([this](TCustomComm*, TDeviceEvents e) {
      recorder.Add("event " + std::to_string(e.Bits()));
    });
  }
};

TEST(Monitor, CharsAndCtsGiveDataThenTheMonitoredPartOnly) {
  MonitoredPort f;
  ASSERT_TRUE(f.port.OpenDevice());
  f.Inject(TDeviceEvents{deChar, deCTS}.Bits(), xcom::ByteString{1, 2, 3});
  ASSERT_TRUE(ServeUntil([&] { return f.recorder.Count() >= 2; }));
  EXPECT_EQ(f.recorder.calls, (std::vector<std::string>{"data 3", "event 1"}));
  EXPECT_EQ(f.recorder.threads[0], std::this_thread::get_id()) << "Synchronize runs it here";
}

TEST(Monitor, UnmonitoredEventsCallNeitherHandler) {
  MonitoredPort f;
  ASSERT_TRUE(f.port.OpenDevice());
  f.Inject(TDeviceEvents{deCTS}.Bits());
  f.Inject(TDeviceEvents{deRing}.Bits() | TDeviceEvents{deChar}.Bits());  // a marker after it
  ASSERT_TRUE(ServeUntil([&] { return f.recorder.Count() >= 2; }));
  EXPECT_EQ(f.recorder.calls, (std::vector<std::string>{"data 0", "event 1"}));
}

TEST(Monitor, EmptyMonitorEventsStillDeliverData) {
  MonitoredPort f;
  f.port.SetMonitorEvents({});
  ASSERT_TRUE(f.port.OpenDevice());
  f.Inject(TDeviceEvents{deChar}.Bits(), xcom::ByteString{9});
  f.Inject(TDeviceEvents{deFlag}.Bits());
  ASSERT_TRUE(ServeUntil([&] { return f.recorder.Count() >= 2; }));
  EXPECT_EQ(f.recorder.calls, (std::vector<std::string>{"data 1", "data 1"}));
}

TEST(Monitor, WithoutSynchronizeHandlersRunInTheMonitorThread) {
  MonitoredPort f;
  f.port.SetSynchronize(false);
  ASSERT_TRUE(f.port.OpenDevice());
  f.Inject(TDeviceEvents{deChar}.Bits());
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (f.recorder.Count() < 2 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(1ms);
  ASSERT_EQ(f.recorder.Count(), 2u);
  EXPECT_NE(f.recorder.threads[0], std::this_thread::get_id());
}

TEST(Monitor, ClosingWaitsForASlowHandlerWithoutSpinning) {
  MonitoredPort f;
  f.port.SetSynchronize(false);
  std::atomic<bool> inside = false;
  f.port.SetOnData([&](TCustomComm*, std::uint32_t) {
    inside = true;
    std::this_thread::sleep_for(400ms);
  });
  ASSERT_TRUE(f.port.OpenDevice());
  f.Inject(TDeviceEvents{deChar}.Bits());
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (!inside && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(inside);
  const auto ThreadCpu = [] {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
  };
  const auto before = ThreadCpu();
  f.port.CloseDevice();  // waits the rest of the handler's 400 ms
  EXPECT_LT(ThreadCpu() - before, 50ms);
}

// The monitor would wait for the very handler that waits for it: the program ends, and says why.
TEST(MonitorDeathTest, DestroyingThePortInsideItsOwnHandlerEndsTheProgramWithTheReason) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        auto f = std::make_unique<MonitoredPort>();
        f->port.SetOnData([&f](TCustomComm*, std::uint32_t) { f.reset(); });
        if (f->port.OpenDevice()) f->Inject(TDeviceEvents{deChar}.Bits());
        ServeUntil([] { return false; });
      },
      "destroyed from inside its own OnData/OnCommEvent handler");
}

TEST(Monitor, OutEmptyComesFromEverySendAttemptInTheSendingThread) {
  MonitoredPort f;
  ASSERT_TRUE(f.port.OpenDevice());
  EXPECT_TRUE(f.port.SendString(xcom::BytesOf("abc")));
  ASSERT_EQ(f.recorder.Count(), 1u);
  EXPECT_EQ(f.recorder.calls[0], "event 4");
  EXPECT_EQ(f.recorder.threads[0], std::this_thread::get_id());
}

TEST(Monitor, ClosingWhileADeliveryWaitsCompletesItWithoutDeadlock) {
  MonitoredPort f;
  ASSERT_TRUE(f.port.OpenDevice());
  f.Inject(TDeviceEvents{deChar}.Bits(), xcom::ByteString{1});
  // Let the monitor queue its synchronised call, but do not serve it here.
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(f.recorder.Count(), 0u);
  f.port.CloseDevice();  // serves the waiting delivery, then ends the thread
  EXPECT_EQ(f.recorder.calls, (std::vector<std::string>{"data 1", "event 1"}));
  EXPECT_FALSE(f.port.Opened());
}

TEST(Monitor, StopWinsOverPendingEvents) {
  MonitoredPort f;
  ASSERT_TRUE(f.port.OpenDevice());
  f.port.CloseDevice();
  f.Inject(TDeviceEvents{deChar}.Bits());
  EXPECT_FALSE(ServeUntil([&] { return f.recorder.Count() > 0; }, 50ms));
}

TEST(Monitor, AHandlerExceptionEndsTheMonitorButNotThePort) {
  MonitoredPort f;
  std::atomic<int> calls = 0;
  f.port.SetOnData([&](TCustomComm*, std::uint32_t) {
    ++calls;
    throw std::runtime_error("handler failed");
  });
  ASSERT_TRUE(f.port.OpenDevice());
  f.Inject(TDeviceEvents{deChar}.Bits());
  ASSERT_TRUE(ServeUntil([&] {
    std::lock_guard lock(f.state->mutex);
    return f.state->masks.back() == 0u;  // the loop ended and cleared the mask
  }));
  f.Inject(TDeviceEvents{deChar}.Bits());
  EXPECT_FALSE(ServeUntil([&] { return calls > 1; }, 50ms));
  EXPECT_TRUE(f.port.Opened());
  EXPECT_TRUE(f.port.SendString(xcom::BytesOf("still works")));
}

TEST(Monitor, AFailedWaitEndsTheMonitor) {
  MonitoredPort f;
  ASSERT_TRUE(f.port.OpenDevice());
  f.Inject(0xFFFFFFFF);  // the double's way of saying the wait failed
  ASSERT_TRUE(ServeUntil([&] {
    std::lock_guard lock(f.state->mutex);
    return f.state->masks.back() == 0u;
  }));
  f.port.CloseDevice();
}

// The end of delivery is not reported to the user, yet a caller can tell it and its cause.
TEST(Monitor, TheMonitorStateSaysWhetherAndWhyDeliveryEnded) {
  struct Case {
    const char* name;
    bool handlerRaises;
    std::uint32_t injected;  // 0xFFFFFFFF: the double's failed wait
    TMonitorState after;
  };
  for (const Case& c : {Case{"handler raised, in the main thread", true, deChar, msHandlerRaised},
                        Case{"wait failed", false, 0xFFFFFFFF, msWaitFailed}}) {
    SCOPED_TRACE(c.name);
    MonitoredPort f;
    if (c.handlerRaises)
      f.port.SetOnData([](TCustomComm*, std::uint32_t) { throw std::runtime_error("handler"); });
    EXPECT_EQ(f.port.MonitorState(), msNotRunning);
    ASSERT_TRUE(f.port.OpenDevice());
    EXPECT_EQ(f.port.MonitorState(), msRunning);
    f.Inject(c.injected == 0xFFFFFFFF ? c.injected : TDeviceEvents{deChar}.Bits());
    EXPECT_TRUE(ServeUntil([&] { return f.port.MonitorState() == c.after; }));
    EXPECT_TRUE(f.port.Opened());
    f.port.CloseDevice();
    EXPECT_EQ(f.port.MonitorState(), msNotRunning);
  }
}

TEST(Monitor, ClosingFromInsideAHandlerIsRefusedAsADeviceErrorAndDoesNotHang) {
  MonitoredPort f;
  std::atomic<bool> refused = false;
  f.port.SetOnData([&](TCustomComm* sender, std::uint32_t) {
    try {
      sender->CloseDevice();
    } catch (const EDeviceError& e) {
      refused = e.ErrorCode() == 11;
    }
  });
  ASSERT_TRUE(f.port.OpenDevice());
  f.Inject(TDeviceEvents{deChar}.Bits());
  ASSERT_TRUE(ServeUntil([&] { return refused.load(); }));
  EXPECT_TRUE(f.port.Opened());
  f.port.CloseDevice();
}

TEST(Monitor, ClosingInsideTheSendsOutEmptyDeliveryEndsTheSendAsAClosedPort) {
  MonitoredPort f;
  f.state->acceptPerWrite = 0;  // every write moves nothing
  f.port.SetOnCommEvent([](TCustomComm* sender, TDeviceEvents) { sender->CloseDevice(); });
  ASSERT_TRUE(f.port.OpenDevice());
  try {
    f.port.SendString(xcom::BytesOf("abc"));
    ADD_FAILURE() << "the send went on after its port was closed";
  } catch (const EDeviceError& e) {
    EXPECT_EQ(e.ErrorCode(), 1);
  }
  EXPECT_FALSE(f.port.Opened());
}

TEST(Monitor, ClosingAnotherPortInsideADeliveryServesThatPortsQueuedDelivery) {
  MonitoredPort a;
  MonitoredPort b;
  a.port.SetOnData([&](TCustomComm*, std::uint32_t) { b.port.CloseDevice(); });
  ASSERT_TRUE(a.port.OpenDevice());
  ASSERT_TRUE(b.port.OpenDevice());
  // Both monitors queue a delivery for this thread, A's first; then one serving pass runs A's,
  // whose close of B must be able to serve B's.
  a.Inject(TDeviceEvents{deChar}.Bits());
  std::this_thread::sleep_for(100ms);
  b.Inject(TDeviceEvents{deChar}.Bits(), xcom::ByteString{7});
  std::this_thread::sleep_for(100ms);
  std::atomic<bool> done = false;
  std::thread watchdog([&] {
    for (int i = 0; i < 1000 && !done; ++i) std::this_thread::sleep_for(10ms);
    if (!done) {
      std::fputs("deadlock: closing B inside A's delivery never returned\n", stderr);
      std::_Exit(1);
    }
  });
  Synchronizer::Instance().CheckSynchronize();
  done = true;
  watchdog.join();
  EXPECT_FALSE(b.port.Opened());
  EXPECT_EQ(b.recorder.calls, (std::vector<std::string>{"data 1", "event 1"}));
  a.port.CloseDevice();
}

TEST(Monitor, DeliveriesAfterCloseAreDropped) {
  MonitoredPort f;
  ASSERT_TRUE(f.port.OpenDevice());
  f.port.CloseDevice();
  f.port.HandleDeviceEvents(TDeviceEvents{deChar, deOutEmpty});
  EXPECT_EQ(f.recorder.Count(), 0u);
}

}  // namespace
