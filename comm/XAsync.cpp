#include "XAsync.h"

#include <cstddef>
#include <cstring>

#include "CommDevice.h"

namespace xcom {

static_assert(sizeof(DCB) == 28, "the control block must keep the Windows layout");
// The flags word follows DCBlength and BaudRate.
constexpr std::size_t kFlagsOffset = 8;

void InitDCB(DCB& dcb) {
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof(DCB);
}

bool GetDCB(CommDevice& device, DCB& dcb) {
  InitDCB(dcb);
  return device.GetCommState(dcb);
}

std::uint32_t DCBFlags(const DCB& dcb) {
  std::uint32_t flags;
  std::memcpy(&flags, reinterpret_cast<const unsigned char*>(&dcb) + kFlagsOffset, sizeof flags);
  return flags;
}

void SetDCBFlags(DCB& dcb, std::uint32_t flags) {
  std::memcpy(reinterpret_cast<unsigned char*>(&dcb) + kFlagsOffset, &flags, sizeof flags);
}

}  // namespace xcom
