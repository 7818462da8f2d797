#pragma once
// Why a device could not be opened. The platform layer notes the outcome of every open on the
// calling thread, and each port keeps the one of its last OpenDevice (OpenFailureReason), so
// that a caller whose OpenDevice answered false can tell the operator what to do about it (the
// component itself only answers false). Each OS maps its own error numbers onto the few
// reasons a person can act on.

#include <string>

namespace xcom {

enum class OpenFailure {
  None,              // the last open on this thread succeeded, or none was tried
  NoSuchDevice,      // nothing by that name, or the adapter behind it is gone
  PermissionDenied,  // the system refused access to the device file
  Busy,              // another program (or another port of this one) has the device open
  NotSerialDevice,   // the name exists but is no serial line (a file, a folder, /dev/null...)
  // A serial device server (a tcp:// or rfc2217:// name):
  BadNetworkName,     // the name has a network scheme but no valid host and port after it
  HostUnknown,        // the host name does not resolve
  ConnectionRefused,  // nothing listens on that port, or the server turned the connection away
  HostUnreachable,    // no route to the host
  ConnectTimedOut,    // the server did not answer within the connect's time-out
  Other,              // anything else; the system error tells which
};

struct OpenFailureInfo {
  OpenFailure reason = OpenFailure::None;
  int systemError = 0;  // errno or GetLastError of the call that failed; 0 when none
  // PermissionDenied, where the system has owners of device files: who owns the device and
  // which group may use it, so that the operator is told whether joining a group would help.
  std::string deviceOwner;
  std::string deviceGroup;
};

// The outcome of the last platform open made on the calling thread.
OpenFailureInfo LastOpenFailure();

// The system's own message for the failure's system error, untrimmed; empty when it has none.
std::string OpenFailureSystemText(const OpenFailureInfo& failure);

}  // namespace xcom
