#include <gtest/gtest.h>

#include "PortMatching.h"

namespace {

TEST(PortMatching, WholeTextOrFileNameStart) {
  const std::string byId = "/dev/serial/by-id/usb-FTDI-port0";
  EXPECT_TRUE(PortMatches(byId, "/dev/serial/by-id/usb-"));
  EXPECT_TRUE(PortMatches(byId, "usb-F"));
  EXPECT_TRUE(PortMatches("/dev/ttyUSB0", "ttyU"));
  EXPECT_FALSE(PortMatches("/dev/ttyACM0", "ttyU"));
  EXPECT_TRUE(PortMatches("COM12", "COM1"));
  EXPECT_TRUE(PortMatches("/dev/ttyACM0", ""));
  EXPECT_FALSE(PortMatches("/dev/ttyUSB0", "USB"));
}

}  // namespace
