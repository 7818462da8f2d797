#include "PlatformDevice.h"

namespace xcom {

// Not the Windows NT platform, so the limit is the 8192 bytes the port settings allow on every
// other host. The kernel's queues do not depend on it (see TerminalDevice::SetupComm).
std::uint16_t PlatformQueueSizeLimit() {
  return 8192;
}

}  // namespace xcom
