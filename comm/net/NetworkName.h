#pragma once
// Port names that lead to a serial device server instead of a local line:
//   tcp://host:port       the line's bytes travel unchanged over TCP (raw)
//   rfc2217://host:port   Telnet with the COM-PORT-OPTION: the tool also sets the remote line
// The host is a name the system resolves, an IPv4 address, or an IPv6 address in brackets
// ([::1]:4001). The scheme is matched without regard to case; the port is 1 to 65535.

#include <optional>
#include <string>

namespace xcom {

enum class NetworkMode { Raw, Rfc2217 };

struct NetworkAddress {
  NetworkMode mode = NetworkMode::Raw;
  std::string host;  // without the brackets of an IPv6 address
  std::string port;  // decimal digits, no leading zeros

  bool operator==(const NetworkAddress&) const = default;
};

// Whether the name asks for a network line at all (it starts with one of the two schemes).
bool IsNetworkName(const std::string& name);

// The address a network name gives; nothing when the name is not a network name or is one
// written wrong (no host, no port, a port out of range, an IPv6 address without brackets...).
std::optional<NetworkAddress> ParseNetworkName(const std::string& name);

}  // namespace xcom
