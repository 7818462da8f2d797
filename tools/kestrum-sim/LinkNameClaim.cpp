#include "LinkNameClaim.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>

#include "DeviceNode.h"
#include "ThrowErrno.h"

namespace kestrum_sim {

// A running simulator claims its link's name with an abstract Unix socket under the name the
// serial component looks for (xcom::LinkClaimName): the kernel frees the name when the process
// ends, however it ends, and leaves nothing in the file system. An invalid descriptor: another
// process holds the name.
xcom::UniqueFd ClaimLinkName(const std::string& link) {
  const std::string name = xcom::LinkClaimName(link);
  xcom::UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) ThrowErrno("socket");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // sun_path[0] stays 0: the abstract namespace.
  name.copy(address.sun_path + 1, sizeof address.sun_path - 2);
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), size) != 0) {
    if (errno == EADDRINUSE) return xcom::UniqueFd();
    ThrowErrno("bind");
  }
  return socket;
}

}  // namespace kestrum_sim
