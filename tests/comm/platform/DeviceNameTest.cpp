// Which path a port's device name opens, and which node it leads to. No device is opened
// (never open /dev/ttyS*).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "DeviceName.h"
#include "DeviceNode.h"
#include "LinkClaim.h"
#include "PtyPair.h"

namespace xcom {
namespace {

TEST(DevicePathForName, ComNumbersCountFromTtyS0) {
  EXPECT_EQ(DevicePathForName("COM1"), "/dev/ttyS0");
  EXPECT_EQ(DevicePathForName("COM2"), "/dev/ttyS1");
  EXPECT_EQ(DevicePathForName("COM10"), "/dev/ttyS9");
  EXPECT_EQ(DevicePathForName("COM256"), "/dev/ttyS255");
  EXPECT_EQ(DevicePathForName("com3"), "/dev/ttyS2");
  EXPECT_EQ(DevicePathForName("Com4"), "/dev/ttyS3");
  EXPECT_EQ(DevicePathForName("COM999999999"), "/dev/ttyS999999998");
}

TEST(DevicePathForName, NamesThatOnlyLookLikeComPortsStayNames) {
  EXPECT_EQ(DevicePathForName("COM0"), "/dev/COM0");
  EXPECT_EQ(DevicePathForName("COM01"), "/dev/COM01");
  EXPECT_EQ(DevicePathForName("COM"), "/dev/COM");
  EXPECT_EQ(DevicePathForName("COM1x"), "/dev/COM1x");
  EXPECT_EQ(DevicePathForName("COM-1"), "/dev/COM-1");
  EXPECT_EQ(DevicePathForName("COM 1"), "/dev/COM 1");
  EXPECT_EQ(DevicePathForName("COM1234567890"), "/dev/COM1234567890");  // too long to be one
  EXPECT_EQ(DevicePathForName("XCOM1"), "/dev/XCOM1");
}

TEST(DevicePathForName, AbsolutePathsAreUsedAsTheyAre) {
  EXPECT_EQ(DevicePathForName("/dev/pts/3"), "/dev/pts/3");
  EXPECT_EQ(DevicePathForName("/dev/serial/by-id/usb-Adapter_A1-if00-port0"),
            "/dev/serial/by-id/usb-Adapter_A1-if00-port0");
  EXPECT_EQ(DevicePathForName("/COM1"), "/COM1");
}

// A name with a slash is a path, relative to the working folder unless it starts with '/'.
TEST(DevicePathForName, NamesWithASlashArePaths) {
  EXPECT_EQ(DevicePathForName("./link"), "./link");
  EXPECT_EQ(DevicePathForName("../x/link"), "../x/link");
  EXPECT_EQ(DevicePathForName("serial/by-path/x"), "serial/by-path/x");
}

TEST(DevicePathForName, OtherNamesAreLookedUpUnderDev) {
  EXPECT_EQ(DevicePathForName("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(DevicePathForName("ttyACM1"), "/dev/ttyACM1");
  EXPECT_EQ(DevicePathForName(""), "/dev/");
}

TEST(FindDeviceNode, TellsTheNodeAPortNameLeadsTo) {
  ptytest::PtyPair first;
  ptytest::PtyPair second;
  const auto node = FindDeviceNode(first.SlavePath());
  ASSERT_TRUE(node);
  EXPECT_TRUE(node->accessible);
  EXPECT_TRUE(node->SameNodeAs(*FindDeviceNode(first.SlavePath())));
  EXPECT_FALSE(node->SameNodeAs(*FindDeviceNode(second.SlavePath())));
  EXPECT_TRUE(FindDeviceNode(std::filesystem::relative(first.SlavePath()).string()))
      << "a path relative to the working folder";
  EXPECT_TRUE(node->pseudoTerminal);
  EXPECT_FALSE(node->NameStaysWithTheDevice()) << "a bare pts number is handed on";
  const std::string link = ::testing::TempDir() + "device-node-link";
  std::filesystem::remove(link);
  std::filesystem::create_symlink(first.SlavePath(), link);
  const auto unclaimed = FindDeviceNode(link);
  std::optional<DeviceNode> linked;
  {
    const testsupport::LinkClaim claim(LinkClaimName(link));
    linked = FindDeviceNode(link);
  }
  std::filesystem::remove(link);
  ASSERT_TRUE(linked && unclaimed);
  EXPECT_TRUE(linked->SameNodeAs(*node));
  EXPECT_TRUE(linked->NameStaysWithTheDevice()) << "its maker, still running, keeps it";
  EXPECT_FALSE(unclaimed->NameStaysWithTheDevice()) << "left behind: as a bare pts number";
  EXPECT_EQ(linked->nodeOwner, ::geteuid());
  EXPECT_EQ(linked->linkOwner, ::geteuid());

  const SerialDeviceCheck check = CheckSerialDevice(first.SlavePath());
  EXPECT_EQ(check.reason, OpenFailure::None);
  ASSERT_TRUE(check.node);
  EXPECT_TRUE(check.node->SameNodeAs(*node));
  EXPECT_EQ(CheckSerialDevice("/dev/null").reason, OpenFailure::NotSerialDevice);
  EXPECT_TRUE(FindDeviceNode("/dev/null")->NameStaysWithTheDevice());

  ASSERT_EQ(::chmod(first.SlavePath().c_str(), 0400), 0);
  if (::geteuid() != 0) {
    EXPECT_FALSE(FindDeviceNode(first.SlavePath())->accessible);
  }
}

TEST(FindDeviceNode, NothingWhereNoDeviceIs) {
  EXPECT_FALSE(FindDeviceNode("/nonexistent/ttyUSB9"));
  const std::string file = ::testing::TempDir() + "device-node-plain-file";
  std::ofstream(file) << "x";
  EXPECT_FALSE(FindDeviceNode(file)) << "a plain file is no device";
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace xcom
