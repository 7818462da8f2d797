#include "RecentNetworkPorts.h"

#include <algorithm>
#include <deque>
#include <mutex>

#include "NetworkName.h"
#include "SerialPorts.h"

namespace xcom {

namespace {

constexpr std::size_t kRemembered = 8;

std::mutex recentMutex;
std::deque<std::string> recent;

}  // namespace

void NoteRecentNetworkPort(const std::string& name) {
  std::lock_guard lock(recentMutex);
  std::erase(recent, name);
  recent.push_front(name);
  if (recent.size() > kRemembered) recent.pop_back();
}

std::vector<SerialPortInfo> RecentNetworkPorts() {
  std::lock_guard lock(recentMutex);
  std::vector<SerialPortInfo> ports;
  for (const std::string& name : recent) {
    const std::optional<NetworkAddress> address = ParseNetworkName(name);
    const bool telnet = address && address->mode == NetworkMode::Rfc2217;
    ports.push_back(
        {name, telnet ? "serial device server (RFC 2217)" : "serial device server (raw TCP)"});
  }
  return ports;
}

}  // namespace xcom
