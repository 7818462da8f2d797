// Which path a port's device name opens. Pure: no device is touched (never open /dev/ttyS*).
#include <gtest/gtest.h>

#include "DeviceName.h"

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

TEST(DevicePathForName, OtherNamesAreLookedUpUnderDev) {
  EXPECT_EQ(DevicePathForName("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(DevicePathForName("ttyACM1"), "/dev/ttyACM1");
  EXPECT_EQ(DevicePathForName("serial/by-path/x"), "/dev/serial/by-path/x");
  EXPECT_EQ(DevicePathForName(""), "/dev/");
}

}  // namespace
}  // namespace xcom
