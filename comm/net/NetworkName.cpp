#include "NetworkName.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace xcom {

namespace {

struct Scheme {
  std::string_view prefix;
  NetworkMode mode;
};
constexpr Scheme kSchemes[] = {{"tcp://", NetworkMode::Raw}, {"rfc2217://", NetworkMode::Rfc2217}};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char lower, char c) {
           return std::tolower(static_cast<unsigned char>(c)) == lower;
         });
}

const Scheme* SchemeOf(std::string_view name) {
  for (const Scheme& scheme : kSchemes)
    if (StartsWithNoCase(name, scheme.prefix)) return &scheme;
  return nullptr;
}

// A host name or IPv4 address: letters, digits, '-', '_' and '.', as a resolver takes them.
bool IsHostName(std::string_view host) {
  return !host.empty() && host.size() <= 253 && std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
  });
}

// An IPv6 address as written between brackets, a zone (%eth0) allowed.
bool IsIpv6Text(std::string_view host) {
  const auto zone = host.find('%');
  const std::string_view address = host.substr(0, zone);
  if (zone != std::string_view::npos && !IsHostName(host.substr(zone + 1))) return false;
  return address.find(':') != std::string_view::npos && address.size() <= 45 &&
         std::all_of(address.begin(), address.end(), [](char c) {
           return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
         });
}

std::optional<std::string> PortOf(std::string_view text) {
  if (text.empty() || text.size() > 5 || text.front() == '0') return std::nullopt;
  if (!std::all_of(text.begin(), text.end(),
                   [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return std::nullopt;
  if (std::stoul(std::string(text)) > 65535) return std::nullopt;
  return std::string(text);
}

}  // namespace

bool IsNetworkName(const std::string& name) {
  return SchemeOf(name) != nullptr;
}

std::optional<NetworkAddress> ParseNetworkName(const std::string& name) {
  const Scheme* scheme = SchemeOf(name);
  if (scheme == nullptr) return std::nullopt;
  const std::string_view rest = std::string_view(name).substr(scheme->prefix.size());
  std::string_view host;
  std::string_view port;
  if (!rest.empty() && rest.front() == '[') {
    const auto close = rest.find(']');
    if (close == std::string_view::npos || rest.substr(close + 1, 1) != ":") return std::nullopt;
    host = rest.substr(1, close - 1);
    port = rest.substr(close + 2);
    if (!IsIpv6Text(host)) return std::nullopt;
  } else {
    const auto colon = rest.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
    if (!IsHostName(host)) return std::nullopt;
  }
  const std::optional<std::string> portText = PortOf(port);
  if (!portText) return std::nullopt;
  return NetworkAddress{scheme->mode, std::string(host), *portText};
}

}  // namespace xcom
