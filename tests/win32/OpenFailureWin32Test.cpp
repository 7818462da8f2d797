// Why CreateFileA refused a port, as the Win32 layer notes it for the calling thread.
#include <gtest/gtest.h>

#include <thread>

#include "OpenFailure.h"
#include "PlatformDevice.h"
#include "WineTestSupport.h"

using namespace xcom;
using namespace wintest;

namespace {

TEST(Win32OpenFailure, AnAbsentPortIsNoSuchDevice) {
  EXPECT_EQ(OpenPlatformDevice(kAbsentPort), nullptr);
  EXPECT_EQ(LastOpenFailure().reason, OpenFailure::NoSuchDevice);
  EXPECT_EQ(LastOpenFailure().systemError, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenPlatformDevice("COM250"), nullptr);
  EXPECT_EQ(LastOpenFailure().reason, OpenFailure::NoSuchDevice);
}

TEST(Win32OpenFailure, AnOpenedPortLeavesNoReasonAndAHeldOneIsBusy) {
  PtyPeer peer;
  ASSERT_TRUE(peer.Connected());
  EXPECT_EQ(OpenPlatformDevice(kAbsentPort), nullptr);
  auto first = OpenPlatformDevice(kPort);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(LastOpenFailure().reason, OpenFailure::None);
  // Another thread's failure is its own.
  std::thread([] {
    OpenPlatformDevice(kAbsentPort);
    EXPECT_EQ(LastOpenFailure().reason, OpenFailure::NoSuchDevice);
  }).join();
  EXPECT_EQ(LastOpenFailure().reason, OpenFailure::None);
  SKIP_UNDER_WINE("a second CreateFileA with share mode 0 is not refused");
  EXPECT_EQ(OpenPlatformDevice(kPort), nullptr);
  EXPECT_EQ(LastOpenFailure().reason, OpenFailure::Busy);
}

}  // namespace
