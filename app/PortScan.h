#pragma once
// The serial devices present on this machine, for the port box's completion list. Plain C++:
// the folders are parameters, so tests scan a fake tree.

#include <string>
#include <vector>

struct TPortFolders {
  std::string byId = "/dev/serial/by-id";  // stable names of USB adapters, shown whole, first
  std::string dev = "/dev";
  std::string sysClassTty = "/sys/class/tty";  // which tty has a driver behind it
  std::string simulatorLinks;                  // where kestrum-sim's links (kestrum-sim*) are made
};

// The folders of this machine: the simulator's links in $XDG_RUNTIME_DIR, else /tmp.
TPortFolders SystemPortFolders();

// by-id links, /dev/ttyUSB*, /dev/ttyACM*, other ttys with a real driver (not the unused
// ttyS* stubs, not the kernel console), then the simulated modules' links; each once.
std::vector<std::string> ScanPorts(const TPortFolders& folders);

// The entries whose whole text or file name starts with `typed` (all of them for "").
std::vector<std::string> MatchingPorts(const std::vector<std::string>& ports,
                                       const std::string& typed);
