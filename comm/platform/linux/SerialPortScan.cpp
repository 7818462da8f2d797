#include "SerialPortScan.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace xcom {
namespace {

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

bool LeadsToDevice(const fs::path& path) {
  std::error_code error;
  return fs::is_character_file(path, error);
}

// A tty with a driver behind it: a UART stub of type 0 (no port) does not count, nor the
// console's own devices.
bool RealSerialTty(const PortFolders& folders, const std::string& name,
                   const std::set<std::string>& console) {
  const fs::path tty = fs::path(folders.sysClassTty) / name;
  std::error_code error;
  if (console.count(name) != 0 || !fs::exists(tty / "device" / "driver", error)) return false;
  if (name.rfind("ttyS", 0) == 0 && FirstLine(tty / "type") == "0") return false;
  return true;
}

}  // namespace

PortFolders SystemPortFolders() {
  PortFolders folders;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  folders.simulatorLinks = runtime != nullptr && *runtime != '\0' ? runtime : "/tmp";
  return folders;
}

std::vector<SerialPortInfo> ScanSerialPorts(const PortFolders& folders) {
  std::vector<SerialPortInfo> ports;
  for (const std::string& name : Names(folders.byId))
    ports.push_back({(fs::path(folders.byId) / name).string(), {}});
  std::set<std::string> console;
  std::istringstream active(FirstLine(fs::path(folders.sysClassTty) / "console" / "active"));
  for (std::string name; active >> name;) console.insert(name);
  std::vector<std::string> usb, others;
  for (const std::string& name : Names(folders.sysClassTty)) {
    const fs::path device = fs::path(folders.dev) / name;
    if (!LeadsToDevice(device)) continue;
    if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0)
      usb.push_back(device.string());
    else if (RealSerialTty(folders, name, console))
      others.push_back(device.string());
  }
  for (const std::vector<std::string>* group : {&usb, &others})
    for (const std::string& device : *group) ports.push_back({device, {}});
  if (!folders.simulatorLinks.empty())
    for (const std::string& name : Names(folders.simulatorLinks)) {
      const fs::path link = fs::path(folders.simulatorLinks) / name;
      if (name.rfind("kestrum-sim", 0) == 0 && LeadsToDevice(link))
        ports.push_back({link.string(), {}});
    }
  return ports;
}

std::vector<SerialPortInfo> ListSerialPorts() {
  return ScanSerialPorts(SystemPortFolders());
}

}  // namespace xcom
