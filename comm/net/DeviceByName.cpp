#include "NetworkDevice.h"
#include "NetworkName.h"
#include "OpenFailureNote.h"
#include "PlatformDevice.h"
#include "RecentNetworkPorts.h"

namespace xcom {

std::unique_ptr<CommDevice> OpenDeviceByName(const std::string& name) {
  if (!IsNetworkName(name)) return OpenPlatformDevice(name);
  const std::optional<NetworkAddress> address = ParseNetworkName(name);
  if (!address) {
    NoteOpenFailure(OpenFailure::BadNetworkName);
    return nullptr;
  }
  std::unique_ptr<CommDevice> device = OpenNetworkDevice(*address);
  if (device) NoteRecentNetworkPort(name);
  return device;
}

}  // namespace xcom
