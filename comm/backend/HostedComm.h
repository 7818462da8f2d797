#pragma once
// A port whose devices come from its host instead of the platform: tests and other hosts bring
// their own CommDevice through `opener`, which stands in for opening the platform device.

#include <utility>

#include "CommDevice.h"
#include "XComDrv.h"

namespace xcom {

class THostedComm : public TXComm {
 public:
  using TXComm::DeviceOpener;
  explicit THostedComm(DeviceOpener opener) : TXComm(std::move(opener)) {}
};

}  // namespace xcom
