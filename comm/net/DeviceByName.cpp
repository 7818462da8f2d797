#include "NetworkDevice.h"
#include "NetworkName.h"
#include "OpenFailureNote.h"
#include "PlatformDevice.h"

namespace xcom {

std::unique_ptr<CommDevice> OpenDeviceByName(const std::string& name) {
  if (!IsNetworkName(name)) return OpenPlatformDevice(name);
  const std::optional<NetworkAddress> address = ParseNetworkName(name);
  if (!address) {
    NoteOpenFailure(OpenFailure::BadNetworkName);
    return nullptr;
  }
  return OpenNetworkDevice(*address);
}

}  // namespace xcom
