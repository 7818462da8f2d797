#pragma once
// A port whose devices come from its host instead of the platform: tests and other hosts bring
// their own CommDevice through `opener`, which stands in for opening the platform device.

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "CommDevice.h"
#include "XComDrv.h"

namespace xcom {

class THostedComm : public TXComm {
 public:
  // Opens the named device; nullptr when it cannot.
  using DeviceOpener = std::function<std::unique_ptr<CommDevice>(const std::string& name)>;
  // The opener is a private part of TCustomComm, which names this class its friend, so that
  // the installed headers offer no way to bring a device of one's own.
  explicit THostedComm(DeviceOpener opener) { opener_ = std::move(opener); }
};

}  // namespace xcom
