#include "PortSettings.h"

#include <algorithm>

#include "CharacterBits.h"
#include "OpenFailure.h"
#include "PermissionRemedy.h"

using namespace modbus;  // the protocol layer

namespace kestrum {
namespace {

// Which advice: hints::PermissionRemedyFor, shared with the window.
std::string PermissionText(const xcom::OpenFailureInfo& failure) {
  switch (hints::PermissionRemedyFor(failure)) {
    case hints::PermissionRemedy::JoinDialoutGroup:
      return "permission denied (the user may need to be in the dialout group: sudo usermod "
             "-aG dialout USER, then log in again)";
    case hints::PermissionRemedy::AskTheOwner:
      return "permission denied: the device belongs to another user (" + failure.deviceOwner +
             "), only that user or an administrator can open it";
    case hints::PermissionRemedy::RunAsPermittedUser:
      break;
  }
  return "permission denied (run kestrum as a user who may open the device)";
}

}  // namespace

std::string OpenFailureText(const xcom::OpenFailureInfo& failure) {
  switch (failure.reason) {
    case xcom::OpenFailure::NoSuchDevice:
      return "no such device (check the name, and that the adapter is plugged in)";
    case xcom::OpenFailure::PermissionDenied:
      return PermissionText(failure);
    case xcom::OpenFailure::Busy:
      return "busy: another program has it open";
    case xcom::OpenFailure::NotSerialDevice:
      return "not a serial device";
    case xcom::OpenFailure::BadNetworkName:
      return "not a network port name (write tcp://HOST:PORT or rfc2217://HOST:PORT, an IPv6 "
             "address as [ADDRESS]:PORT)";
    case xcom::OpenFailure::HostUnknown:
      return "unknown host (the name does not resolve; check it, or give the address)";
    case xcom::OpenFailure::ConnectionRefused:
      return "connection refused (nothing listens on that port: check the port number and that "
             "the serial device server runs)";
    case xcom::OpenFailure::HostUnreachable:
      return "host unreachable (no route to it: check the address and the network)";
    case xcom::OpenFailure::ConnectTimedOut:
      return "no answer from the server (the connect timed out: check the address, the "
             "network and any firewall)";
    case xcom::OpenFailure::Other: {
      const std::string text = xcom::OpenFailureSystemText(failure);
      return text.empty() ? "system error " + std::to_string(failure.systemError) : text;
    }
    case xcom::OpenFailure::None:
      break;
  }
  return "the device did not open";
}

namespace {

void ApplySettings(xcom::TXComm& port, const Invocation& run, const std::string& name) {
  // Events are delivered on the port's own monitor thread: there is no UI thread to serve them.
  port.SetSynchronize(false);
  port.SetDeviceName(name);
  port.SetBaudRate(run.baud.custom ? xcom::brCustom : xcom::BaudRateMemberOf(run.baud.rate));
  if (run.baud.custom) port.SetBaudValue(run.baud.rate);
  port.DataControl().SetDataBits(run.dataBits == 7 ? xcom::db7 : xcom::db8);
  port.DataControl().SetParity(run.parity == FormatParity::None   ? xcom::paNone
                               : run.parity == FormatParity::Even ? xcom::paEven
                                                                  : xcom::paOdd);
  port.DataControl().SetStopBits(run.stopBits == 2 ? xcom::sb2 : xcom::sb1);
  const auto timeout = static_cast<std::uint16_t>(std::min(run.timeoutMs, 65535u));
  port.Buffers().SetInputTimeout(timeout);
  port.Buffers().SetOutputTimeout(timeout);
}

}  // namespace

unsigned BitsPerCharacter(const Invocation& run) {
  return xcom::BitsPerCharacter(static_cast<unsigned>(run.dataBits),
                                run.parity != FormatParity::None,
                                static_cast<unsigned>(run.stopBits));
}

std::variant<std::unique_ptr<xcom::TXComm>, std::string> OpenPort(const Invocation& run,
                                                                  const std::string& name) {
  auto port = std::make_unique<xcom::TXComm>();
  try {
    ApplySettings(*port, run, name);
    if (!port->OpenDevice()) return "cannot open: " + OpenFailureText(port->OpenFailureReason());
  } catch (const std::exception& error) {
    // The device opened but refused a setting (or the name was refused before it opened).
    return std::string("cannot open: ") + error.what();
  }
  return port;
}

}  // namespace kestrum
