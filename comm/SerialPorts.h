#pragma once
// The serial ports present on this machine, for a port box's list. Nothing is opened to find
// them: the system's own list of its serial devices is read.

#include <string>
#include <vector>

namespace xcom {

struct SerialPortInfo {
  std::string name;         // what OpenDevice takes: "/dev/ttyUSB0", "COM3"
  std::string description;  // the system's name for the device ("USB Serial Port"); may be empty
};

// Stable names first (a USB adapter's by-id link on Linux), then the plain device names in
// their natural order, each port once.
std::vector<SerialPortInfo> ListSerialPorts();

// The serial device servers (tcp:// and rfc2217:// names) this process has opened, the most
// recent first, at most eight. Nothing is looked for on the network.
std::vector<SerialPortInfo> RecentNetworkPorts();

}  // namespace xcom
