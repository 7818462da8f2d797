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
  explicit LinkClaim(const std::string& abstractName)
      : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    abstractName.copy(address.sun_path + 1, sizeof address.sun_path - 2);
    const auto size =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + abstractName.size());
    if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~LinkClaim() {
    if (fd_ >= 0) ::close(fd_);
  }
  LinkClaim(const LinkClaim&) = delete;
  LinkClaim& operator=(const LinkClaim&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace testsupport
