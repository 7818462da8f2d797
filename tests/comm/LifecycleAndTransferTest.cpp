// Opening, closing and moving bytes, with the component's rules checked on a recording device.

#include <gtest/gtest.h>

#include <chrono>

#include "FakeDevice.h"

using namespace xcom;
using xcom::testing::FakePort;

namespace {

int CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EDeviceError& e) {
    return e.ErrorCode();
  }
  return 0;
}

struct OpenPort : FakePort {
  OpenPort() {
    port.SetDeviceName("dev");
    EXPECT_TRUE(port.OpenDevice());
  }
  void SetInput(const xcom::ByteString& bytes) {
    std::lock_guard lock(state->mutex);
    state->input = bytes;
  }
};

TEST(Lifecycle, MissingDeviceAnswersFalseAndStaysClosed) {
  FakePort f;
  f.port.SetDeviceName("missing");
  EXPECT_FALSE(f.port.OpenDevice());
  EXPECT_FALSE(f.port.Opened());
  EXPECT_FALSE(f.port.OpenDevice());
  EXPECT_EQ(f.openedNames, (std::vector<std::string>{"missing", "missing"}));
}

TEST(Lifecycle, OpenAppliesSettingsInOrderAndStartsTheMonitor) {
  OpenPort f;
  EXPECT_TRUE(f.port.Opened());
  std::lock_guard lock(f.state->mutex);
  EXPECT_EQ(f.state->masks.front(), 0x1FFBu);
  EXPECT_EQ(f.state->dcbs.size(), 1u);
  EXPECT_EQ(f.state->purges, (std::vector<std::uint32_t>{0x000F}));
  EXPECT_EQ(f.state->setups.size(), 1u);
  EXPECT_EQ(f.state->timeouts.size(), 1u);
}

TEST(Lifecycle, SecondOpenRaisesCode2AndKeepsTheFirstDevice) {
  OpenPort f;
  EXPECT_EQ(CodeOf([&] { f.port.OpenDevice(); }), 2);
  EXPECT_TRUE(f.port.Opened());
  EXPECT_EQ(f.openedNames.size(), 1u);
  EXPECT_EQ(f.state->closed, 0);
}

TEST(Lifecycle, ClosedPortRaisesCode1) {
  FakePort f;
  EXPECT_EQ(CodeOf([&] { f.port.CloseDevice(); }), 1);
  EXPECT_EQ(CodeOf([&] { f.port.QueueCount(0); }), 1);
  EXPECT_EQ(CodeOf([&] { f.port.SendString(xcom::BytesOf("x")); }), 1);
  EXPECT_EQ(CodeOf([&] { f.port.SendString({}); }), 1);
  xcom::ByteString s;
  EXPECT_EQ(CodeOf([&] { f.port.ReadString(s); }), 1);
  EXPECT_EQ(f.port.DeviceLocks(), (TDeviceLocks{dlSend, dlRead}));
}

TEST(Lifecycle, CloseStopsTheMonitorThenReleasesTheDevice) {
  OpenPort f;
  f.port.Buffers().SetOutputTimeout(700);
  f.port.CloseDevice();
  EXPECT_FALSE(f.port.Opened());
  std::lock_guard lock(f.state->mutex);
  EXPECT_EQ(f.state->closed, 1);
  EXPECT_EQ(f.state->masks.back(), 0u) << "the monitor clears the mask as it leaves";
  EXPECT_EQ(f.state->drains, std::vector<std::uint32_t>{700})
      << "output drained, as long as a send";
}

TEST(Lifecycle, ALostDeviceIsClosedWithoutWaitingForItsOutput) {
  OpenPort f;
  {
    std::lock_guard lock(f.state->mutex);
    f.state->lost = true;
  }
  f.port.CloseDevice();
  EXPECT_TRUE(f.state->drains.empty());
}

TEST(Lifecycle, RefusedSettingsRaiseTheirCodesAndLeaveThePortOpen) {
  for (int which = 0; which < 3; ++which) {
    FakePort f;
    f.port.SetDeviceName("dev");
    f.state->refuseState = which == 0;
    f.state->refuseSetup = which == 1;
    f.state->refuseTimeouts = which == 2;
    const int codes[] = {3, 6, 7};
    EXPECT_EQ(CodeOf([&] { f.port.OpenDevice(); }), codes[which]);
    EXPECT_TRUE(f.port.Opened());
    f.state->refuseState = f.state->refuseSetup = f.state->refuseTimeouts = false;
    EXPECT_TRUE(f.port.UpdateDCB() && f.port.UpdateBuffers() && f.port.UpdateTimeouts());
    f.port.CloseDevice();
  }
}

TEST(Lifecycle, DestroyingAnOpenPortClosesItAndAClosedOneRaisesNothing) {
  auto state = std::make_shared<xcom::testing::FakeDeviceState>();
  {
    THostedComm port(
        [&](const std::string&) { return std::make_unique<xcom::testing::FakeDevice>(state); });
    ASSERT_TRUE(port.OpenDevice());
  }
  EXPECT_EQ(state->closed, 1);
  EXPECT_NO_THROW({ THostedComm closed([](const std::string&) { return nullptr; }); });
}

TEST(Lifecycle, QueueCountSelectors) {
  OpenPort f;
  EXPECT_EQ(f.port.QueueCount(0), 0u);
  EXPECT_EQ(f.port.QueueCount(1), 0u);
  f.SetInput({1, 2, 3});
  f.state->outQueue = 7;
  EXPECT_EQ(f.port.QueueCount(0), 3u);
  EXPECT_EQ(f.port.QueueCount(1), 7u);
  EXPECT_EQ(f.port.QueueCount(2), 0u);
}

TEST(Transfer, CountZeroMovesNothingAndCallsNothing) {
  OpenPort f;
  int calls = 0;
  f.port.SetOnSend([&](TCustomComm*) { ++calls; });
  f.port.SetOnRead([&](TCustomComm*) { ++calls; });
  f.port.SetOnCommEvent([&](TCustomComm*, TDeviceEvents) { ++calls; });
  std::uint8_t buffer[4];
  EXPECT_EQ(f.port.SendData(buffer, 0, 100), 0u);
  EXPECT_EQ(f.port.ReadData(buffer, 0, 100), 0u);
  EXPECT_TRUE(f.port.SendString({}));
  EXPECT_TRUE(f.state->writeSizes.empty());
  EXPECT_EQ(calls, 0);
}

TEST(Transfer, SendStringWritesEveryByteIncludingZeros) {
  OpenPort f;
  const xcom::ByteString frame{0x64, 0x00, 0x00, 0x10, 0xFF, 0x00};
  EXPECT_TRUE(f.port.SendString(frame));
  EXPECT_EQ(f.state->written, frame);
}

TEST(Transfer, SendIsBoundedByTheRoomLeftInTheOutputQueue) {
  OpenPort f;
  f.state->outQueue = 100;
  xcom::ByteString big(3000, 0x55);
  f.port.SendData(big.data(), 3000, 100);
  ASSERT_FALSE(f.state->writeSizes.empty());
  EXPECT_EQ(f.state->writeSizes.front(), 1948u);
}

TEST(Transfer, OverfullOutputQueueMeansNoRoomNotAHugeWrite) {
  OpenPort f;
  f.state->outQueue = 5000;  // more than OutputSize (2048)
  xcom::ByteString data(10, 1);
  EXPECT_EQ(f.port.SendData(data.data(), 10, 30), 0u);
  EXPECT_TRUE(f.state->writeSizes.empty());
}

TEST(Transfer, SendThatNeverDrainsTimesOutWithDeOutEmptyAfterEveryAttempt) {
  OpenPort f;
  f.state->acceptPerWrite = 0;
  int outEmpty = 0;
  f.port.SetOnCommEvent([&](TCustomComm*, TDeviceEvents e) {
    if (e.Contains(deOutEmpty)) ++outEmpty;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(f.port.SendString(xcom::BytesOf("never")));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(500)) << "default OutputTimeout is 500 ms";
  EXPECT_EQ(static_cast<std::size_t>(outEmpty), f.state->writeSizes.size());
  EXPECT_GE(outEmpty, 1);
}

TEST(Transfer, PartialSendReturnsTheCountWritten) {
  OpenPort f;
  f.state->acceptPerWrite = 3;
  xcom::ByteString data(10, 7);
  int sends = 0;
  f.port.SetOnSend([&](TCustomComm*) {
    if (++sends == 2) f.state->acceptPerWrite = 0;
  });
  EXPECT_EQ(f.port.SendData(data.data(), 10, 50), 6u);
  EXPECT_EQ(sends, 2);
}

TEST(Transfer, LostDeviceEndsASendAtOnce) {
  OpenPort f;
  f.state->acceptPerWrite = 0;
  f.state->lost = true;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(f.port.SendString(xcom::BytesOf("gone")));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
  EXPECT_EQ(f.state->writeSizes.size(), 1u);
}

TEST(Transfer, TimeoutZeroStillPollsUntilTheClockMoves) {
  OpenPort f;
  std::uint8_t buffer[4];
  // The read may start just before the tick moves, so only the tick itself shows it polled.
  const std::uint32_t before = xcom::GetTickCount();
  EXPECT_EQ(f.port.ReadData(buffer, 4, 0), 0u);
  EXPECT_NE(xcom::GetTickCount(), before);
}

TEST(Transfer, ReadStringTakesOnlyWhatWasQueuedAtItsStart) {
  OpenPort f;
  f.SetInput({1, 0, 2});
  int reads = 0;
  f.port.SetOnRead([&](TCustomComm*) {
    ++reads;
    std::lock_guard lock(f.state->mutex);
    f.state->input.push_back(9);  // arrives during the call
  });
  xcom::ByteString s;
  EXPECT_TRUE(f.port.ReadString(s));
  EXPECT_EQ(s, (xcom::ByteString{1, 0, 2}));
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(f.port.QueueCount(0), 1u);
}

TEST(Transfer, EmptyQueueReadStringAnswersFalseAtOnce) {
  OpenPort f;
  int reads = 0;
  f.port.SetOnRead([&](TCustomComm*) { ++reads; });
  xcom::ByteString s{1, 2};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(f.port.ReadString(s));
  EXPECT_TRUE(s.empty());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(reads, 0);
}

TEST(Transfer, ReadDataWaitsForBytesUntilItsTimeout) {
  OpenPort f;
  f.SetInput({5});
  std::uint8_t buffer[3] = {};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(f.port.ReadData(buffer, 3, 60), 1u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
  EXPECT_EQ(buffer[0], 5);
}

TEST(Locks, NestedTransfersInTheSameDirectionAreRefused) {
  OpenPort f;
  int sendCode = 0;
  int readCode = 0;
  bool readInsideSend = false;
  int sends = 0;
  f.port.SetOnSend([&](TCustomComm* sender) {
    if (++sends > 1) return;  // later sends come from inside OnRead
    sendCode = CodeOf([&] { sender->SendString(xcom::BytesOf("again")); });
    xcom::ByteString s;
    readInsideSend = (CodeOf([&] { sender->ReadString(s); }) == 0);
    EXPECT_EQ(sender->DeviceLocks(), (TDeviceLocks{dlSend}));
  });
  f.port.SetOnRead([&](TCustomComm* sender) {
    xcom::ByteString s;
    readCode = CodeOf([&] { sender->ReadString(s); });     // even with nothing queued
    EXPECT_TRUE(sender->SendString(xcom::BytesOf("ok")));  // sending inside OnRead is allowed
  });
  EXPECT_TRUE(f.port.SendString(xcom::BytesOf("x")));
  f.SetInput({1});
  xcom::ByteString s;
  EXPECT_TRUE(f.port.ReadString(s));
  EXPECT_EQ(sendCode, 4);
  EXPECT_EQ(readCode, 5);
  EXPECT_TRUE(readInsideSend);
  EXPECT_TRUE(f.port.DeviceLocks().Empty()) << "locks are gone after the handlers";
}

TEST(Locks, AHandlerThatRaisesStillReleasesItsLock) {
  OpenPort f;
  f.port.SetOnSend([](TCustomComm*) { throw std::runtime_error("handler failed"); });
  EXPECT_THROW(f.port.SendString(xcom::BytesOf("x")), std::runtime_error);
  EXPECT_TRUE(f.port.DeviceLocks().Empty());
  EXPECT_EQ(f.state->written, xcom::BytesOf("x")) << "bytes already moved stay moved";
}

TEST(Locks, LinkedClientLocksJoinThePorts) {
  OpenPort f;
  TCommClient client;
  client.SetComm(&f.port);
  EXPECT_EQ(f.port.ClientCount(), 1);
  client.Locks = {dlRead};
  EXPECT_EQ(f.port.DeviceLocks(), (TDeviceLocks{dlRead}));
  xcom::ByteString s;
  EXPECT_EQ(CodeOf([&] { f.port.ReadString(s); }), 5);
  client.SetComm(nullptr);
  EXPECT_EQ(f.port.ClientCount(), 0);
  {
    TCommClient leaving;  // destroyed while linked: it leaves the list by itself
    leaving.SetComm(&f.port);
  }
  EXPECT_EQ(f.port.ClientCount(), 0);
}

TEST(Locks, ClearedAtEveryOpen) {
  OpenPort f;
  f.port.CloseDevice();
  ASSERT_TRUE(f.port.OpenDevice());
  EXPECT_TRUE(f.port.DeviceLocks().Empty());
}

}  // namespace
