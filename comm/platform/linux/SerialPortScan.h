#pragma once
// The serial devices present on a Linux machine, from /dev and sysfs. The folders are
// parameters, so tests scan a fake tree.

#include <string>
#include <vector>

#include "SerialPorts.h"

namespace xcom {

struct PortFolders {
  std::string byId = "/dev/serial/by-id";  // stable names of USB adapters, shown whole, first
  std::string dev = "/dev";
  std::string sysClassTty = "/sys/class/tty";  // which tty has a driver behind it
  std::string simulatorLinks;                  // where kestrum-sim's links (kestrum-sim*) are made
};

// The folders of this machine: the simulator's links in $XDG_RUNTIME_DIR, else /tmp.
PortFolders SystemPortFolders();

// by-id links, /dev/ttyUSB*, /dev/ttyACM*, other ttys with a real driver (not the unused
// ttyS* stubs, not the kernel console), then the simulated modules' links; each once.
std::vector<SerialPortInfo> ScanSerialPorts(const PortFolders& folders);

}  // namespace xcom
