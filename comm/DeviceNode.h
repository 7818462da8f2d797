#pragma once
// What a port's device name leads to on this host at this moment, found without opening it.
// A caller that watches a lost device tells by it when a device is back under the same name,
// and whether that is still the node that went away (which may linger until its last user lets
// go) or a new one.

#include <cstdint>
#include <optional>
#include <string>

#include "OpenFailure.h"

namespace xcom {

struct DeviceNode {
  // Which node the name leads to: the device number and inode of the character device (posix),
  // the system device the port name is linked to (win32).
  std::uint64_t device = 0;
  std::uint64_t node = 0;
  // This process may both read and write it (a new node's permissions may still be being set).
  bool accessible = false;
  // The slave side of a pseudo-terminal (a program standing in for a cable), posix only.
  bool pseudoTerminal = false;
  // The name is a symbolic link to the node (posix), such as /dev/serial/by-id/… or a link a
  // program made for its pseudo-terminal: whoever made it keeps it for the same device. A bare
  // /dev/pts/N is not: the system gives its number to the next program that asks for one.
  bool throughLink = false;
  // A link to a pseudo-terminal whose maker still runs and holds it (LinkClaimName). A link
  // left behind by a program that died leads to a number the system hands to anyone.
  bool linkClaimed = false;
  // The users who own the node and the link (posix): a name another user made lead elsewhere
  // (a link re-created in a shared folder such as /tmp) is not the device that was open.
  std::uint32_t nodeOwner = 0;
  std::uint32_t linkOwner = 0;
  // A USB adapter as /dev/serial/by-id names it: vendor, product and serial number, or the
  // port's path on the bus when it has no serial number; empty for other devices. The system
  // gives a bare /dev/ttyUSBn to whichever adapter is plugged in next.
  std::string adapter;

  // Whether a node found under the name later is, as far as the name can tell, the same kind
  // of device come back rather than something unrelated that took the name over.
  bool NameStaysWithTheDevice() const { return !pseudoTerminal || (throughLink && linkClaimed); }
  bool SameOwnersAs(const DeviceNode& other) const {
    return nodeOwner == other.nodeOwner && linkOwner == other.linkOwner;
  }
  bool SameAdapterAs(const DeviceNode& other) const { return adapter == other.adapter; }

  bool SameNodeAs(const DeviceNode& other) const {
    return device == other.device && node == other.node;
  }
};

// The name under which a program that keeps a link to its pseudo-terminal (the simulated
// module's --link) claims the link while it runs: an abstract Unix socket, freed by the system
// when the program ends however it ends. The program binds it; others only look for it (posix).
std::string LinkClaimName(const std::string& linkPath);

// The node behind a bare port name as OpenDevice would use it; nothing when no device is there.
std::optional<DeviceNode> FindDeviceNode(const std::string& name);

// Whether OpenDevice would take the name for a serial line, decided before anything opens it:
// reason None, with the node, when it would; otherwise why not (NotSerialDevice for anything
// but a serial line, such as a console or the process's own terminal).
struct SerialDeviceCheck {
  OpenFailure reason = OpenFailure::None;
  int systemError = 0;
  std::optional<DeviceNode> node;
};
SerialDeviceCheck CheckSerialDevice(const std::string& name);

}  // namespace xcom
