// Network port names: which forms lead to a serial device server, and what they give.

#include <gtest/gtest.h>

#include "NetworkName.h"

using namespace xcom;

namespace {

TEST(NetworkName, GoodAndBadForms) {
  constexpr auto raw = NetworkMode::Raw;
  constexpr auto telnet = NetworkMode::Rfc2217;
  const struct {
    const char* name;
    std::optional<NetworkAddress> address;
  } cases[] = {
      {"tcp://127.0.0.1:4001", NetworkAddress{raw, "127.0.0.1", "4001"}},
      {"rfc2217://plant-gw.example:2217", NetworkAddress{telnet, "plant-gw.example", "2217"}},
      {"TCP://localhost:1", NetworkAddress{raw, "localhost", "1"}},
      {"RFC2217://[::1]:65535", NetworkAddress{telnet, "::1", "65535"}},
      {"tcp://[fe80::1%eth0]:502", NetworkAddress{raw, "fe80::1%eth0", "502"}},
      {"tcp://[::ffff:127.0.0.1]:502", NetworkAddress{raw, "::ffff:127.0.0.1", "502"}},
      {"tcp://host", std::nullopt},            // no port
      {"tcp://host:", std::nullopt},           // empty port
      {"tcp://:4001", std::nullopt},           // no host
      {"tcp://host:0", std::nullopt},          // port out of range
      {"tcp://host:65536", std::nullopt},      // port out of range
      {"tcp://host:04001", std::nullopt},      // leading zero
      {"tcp://host:40a1", std::nullopt},       // not a number
      {"tcp://host:4001/x", std::nullopt},     // a path
      {"tcp://::1:4001", std::nullopt},        // IPv6 without brackets
      {"tcp://[::1]4001", std::nullopt},       // no colon after the bracket
      {"tcp://[::1:4001", std::nullopt},       // unclosed bracket
      {"tcp://[host]:4001", std::nullopt},     // a name in brackets
      {"tcp://user@host:4001", std::nullopt},  // user information
      {"tcp://ho st:4001", std::nullopt},      // a blank
      {"tcp:// host:4001", std::nullopt},      // a leading blank
      {"telnet://host:23", std::nullopt},      // another scheme: a device name, not ours
      {"/dev/ttyUSB0", std::nullopt},
      {"COM3", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseNetworkName(c.name), c.address) << c.name;
  EXPECT_TRUE(IsNetworkName("Rfc2217://x"));  // malformed, but meant for a server
  EXPECT_FALSE(IsNetworkName("tcp:/host:1"));
}

}  // namespace
