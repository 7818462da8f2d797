#include "ServerProbe.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "NetSocket.h"
#include "NetworkName.h"

namespace xcom {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kConnectTimeout{2000};
constexpr std::chrono::milliseconds kBetweenProbes{1000};
// A server that accepted a connection this recently counts as there.
constexpr std::chrono::milliseconds kAnswerHolds{3000};

struct Probe {
  bool running = false;
  bool answered = false;
  Clock::time_point started{};
  Clock::time_point answeredAt{};
};

std::mutex probesMutex;
std::map<std::string, Probe> probes;

void RunProbe(const std::string& name, NetworkAddress address) {
  // The connection closes again at once: a server serves one client, and that is to be us.
  const bool answered = ConnectTcp(address.host, address.port, kConnectTimeout).socket != nullptr;
  std::lock_guard lock(probesMutex);
  Probe& probe = probes[name];
  probe.running = false;
  probe.answered = answered;
  if (answered) probe.answeredAt = Clock::now();
}

}  // namespace

SerialDeviceCheck CheckNetworkServer(const std::string& name) {
  const std::optional<NetworkAddress> address = ParseNetworkName(name);
  if (!address) return SerialDeviceCheck{OpenFailure::BadNetworkName, 0, std::nullopt};
  std::lock_guard lock(probesMutex);
  Probe& probe = probes[name];
  const Clock::time_point now = Clock::now();
  if (!probe.running && now - probe.started >= kBetweenProbes) {
    probe.running = true;
    probe.started = now;
    std::thread(RunProbe, name, *address).detach();
  }
  if (probe.answered && now - probe.answeredAt < kAnswerHolds) {
    probe.answered = false;  // each answer lets one reopen be tried
    return SerialDeviceCheck{OpenFailure::None, 0, DeviceNode{}};
  }
  return SerialDeviceCheck{OpenFailure::ConnectTimedOut, 0, std::nullopt};
}

}  // namespace xcom
