// The serial ports of a Windows machine: every COMn name the device namespace knows, and the
// system's map of serial devices (SERIALCOMM) for ports whose name is not of that form, with
// the device manager's friendly names where a driver gives one.

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>

#include "SerialPorts.h"
#include "WinTypes.h"
// After <windows.h>, which WinTypes.h brings in.
#include <setupapi.h>

namespace xcom {
namespace {

struct KeyCloser {
  void operator()(HKEY key) const { ::RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

struct DeviceListCloser {
  void operator()(HDEVINFO list) const { ::SetupDiDestroyDeviceInfoList(list); }
};
using UniqueDeviceList = std::unique_ptr<std::remove_pointer_t<HDEVINFO>, DeviceListCloser>;

// The setup class of serial and parallel ports ("Ports (COM & LPT)").
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

constexpr int kHighestComNumber = 256;

// COM3 before COM12: names that end in a number are ordered by it.
bool NaturalOrder(const std::string& a, const std::string& b) {
  const auto split = [](const std::string& name) {
    const std::size_t digits = name.find_last_not_of("0123456789") + 1;
    return std::make_tuple(name.substr(0, digits), name.size() - digits, name.substr(digits));
  };
  return split(a) < split(b);
}

using PortMap = std::map<std::string, std::string, decltype(&NaturalOrder)>;

std::string StringValue(HKEY key, const char* name) {
  char text[256] = {};
  DWORD size = sizeof text - 1;
  DWORD type = 0;
  if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return {};
  return text;
}

void AddNamedComPorts(PortMap& ports) {
  char targets[1024];
  for (int number = 1; number <= kHighestComNumber; ++number) {
    const std::string name = "COM" + std::to_string(number);
    if (::QueryDosDeviceA(name.c_str(), targets, sizeof targets) != 0) ports.emplace(name, "");
  }
}

void AddSerialDeviceMap(PortMap& ports) {
  HKEY opened = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &opened) != ERROR_SUCCESS)
    return;
  const UniqueKey key(opened);
  for (DWORD index = 0;; ++index) {
    char valueName[256];
    DWORD nameLength = sizeof valueName;
    char port[256] = {};
    DWORD size = sizeof port - 1;
    DWORD type = 0;
    const LONG status = ::RegEnumValueA(key.get(), index, valueName, &nameLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(port), &size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_SUCCESS && type == REG_SZ && port[0] != '\0') ports.emplace(port, "");
  }
}

// The friendly name the device manager shows ("USB-SERIAL CH340 (COM3)") for each present port.
void AddDescriptions(PortMap& ports) {
  const HDEVINFO list = ::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (list == INVALID_HANDLE_VALUE) return;
  const UniqueDeviceList devices(list);
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices.get(), index, &device); ++index) {
    const HKEY opened = ::SetupDiOpenDevRegKey(devices.get(), &device, DICS_FLAG_GLOBAL, 0,
                                               DIREG_DEV, KEY_QUERY_VALUE);
    if (opened == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) continue;
    const UniqueKey key(opened);
    const auto port = ports.find(StringValue(key.get(), "PortName"));
    if (port == ports.end()) continue;
    char friendly[256] = {};
    if (::SetupDiGetDeviceRegistryPropertyA(devices.get(), &device, SPDRP_FRIENDLYNAME, nullptr,
                                            reinterpret_cast<BYTE*>(friendly), sizeof friendly - 1,
                                            nullptr))
      port->second = friendly;
  }
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts() {
  PortMap ports(&NaturalOrder);
  AddNamedComPorts(ports);
  AddSerialDeviceMap(ports);
  AddDescriptions(ports);
  std::vector<SerialPortInfo> list;
  for (const auto& [name, description] : ports) list.push_back({name, description});
  return list;
}

}  // namespace xcom
