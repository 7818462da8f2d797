// The port list over a fake /dev, /dev/serial/by-id and /sys/class/tty tree (its "devices" are
// links to /dev/null, a character device).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "SerialPortScan.h"

namespace fs = std::filesystem;

namespace {

class FakeTree : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/portscan-XXXXXX";
    root = mkdtemp(pattern);
    folders = {root + "/by-id", root + "/dev", root + "/sys", root + "/run"};
    for (const std::string& dir : {folders.byId, folders.dev, folders.sysClassTty,
                                   folders.simulatorLinks, folders.sysClassTty + "/console"})
      fs::create_directories(dir);
    std::ofstream(folders.sysClassTty + "/console/active") << "tty0 ttyS2\n";
  }
  void TearDown() override { fs::remove_all(root); }

  // A tty the kernel lists; `driver`: something behind it; `type`: a UART's port type.
  void Tty(const std::string& name, bool driver, const char* type = nullptr) {
    const fs::path sys = fs::path(folders.sysClassTty) / name;
    fs::create_directories(driver ? sys / "device" / "driver" : sys);
    if (type != nullptr) std::ofstream(sys / "type") << type << "\n";
    fs::create_symlink("/dev/null", fs::path(folders.dev) / name);
  }

  std::string root;
  xcom::PortFolders folders;
};

TEST_F(FakeTree, ListsRealSerialDevicesInOrderAndLeavesStubsAndConsolesOut) {
  fs::create_symlink("/dev/null", folders.byId + "/usb-FTDI_FT232R_A1-if00-port0");
  Tty("ttyUSB0", true);
  Tty("ttyACM0", true);
  Tty("ttyS0", true, "4");  // a real UART
  Tty("ttyS1", true, "0");  // an unused stub
  Tty("ttyS2", true, "4");  // the kernel console
  Tty("ttyAMA0", true);
  Tty("tty0", false);
  Tty("ptmx", false);
  fs::create_symlink("/dev/null", folders.simulatorLinks + "/kestrum-sim");
  fs::create_symlink("/nonexistent", folders.simulatorLinks + "/kestrum-sim-2");  // stale
  fs::create_symlink("/dev/null", folders.simulatorLinks + "/other");
  const std::vector<std::string> expected = {folders.byId + "/usb-FTDI_FT232R_A1-if00-port0",
                                             folders.dev + "/ttyACM0",
                                             folders.dev + "/ttyUSB0",
                                             folders.dev + "/ttyAMA0",
                                             folders.dev + "/ttyS0",
                                             folders.simulatorLinks + "/kestrum-sim"};
  std::vector<std::string> names;
  for (const xcom::SerialPortInfo& port : xcom::ScanSerialPorts(folders))
    names.push_back(port.name);
  EXPECT_EQ(names, expected);
}

TEST_F(FakeTree, MissingFoldersGiveAnEmptyList) {
  EXPECT_TRUE(xcom::ScanSerialPorts({root + "/a", root + "/b", root + "/c", root + "/d"}).empty());
}

}  // namespace
