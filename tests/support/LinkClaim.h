#pragma once
// Holds an abstract Unix socket name while it lives, as a running simulated module holds the
// claim on its link (xcom::LinkClaimName): for links the tests make themselves. Linux only.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <string>

namespace testsupport {

class LinkClaim {
 public:
  explicit LinkClaim(const std::string& name) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{AF_UNIX, {}};
    name.copy(address.sun_path + 1, sizeof address.sun_path - 2);  // [0] stays 0: abstract
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address),
           static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size()));
  }
  ~LinkClaim() { ::close(fd_); }
  LinkClaim(const LinkClaim&) = delete;
  LinkClaim& operator=(const LinkClaim&) = delete;

 private:
  int fd_;
};

}  // namespace testsupport
