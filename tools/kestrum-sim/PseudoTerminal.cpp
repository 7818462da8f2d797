#include "PseudoTerminal.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>

#include "DeviceNode.h"
#include "LineSetup.h"
#include "LinkNameClaim.h"

#include "ThrowErrno.h"

namespace kestrum_sim {

PseudoTerminal::PseudoTerminal(const LineSettings& line, const std::string& link) {
  int master = -1;
  int slave = -1;
  std::array<char, 256> name{};
  if (::openpty(&master, &slave, name.data(), nullptr, nullptr) != 0) ThrowErrno("openpty");
  master_.Reset(master);
  slave_.Reset(slave);
  slavePath_ = name.data();
  for (const int fd : {master, slave}) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  // The slave's settings govern the line discipline of both directions: without raw mode the
  // pty would echo the module's own replies back to it and edit lines.
  ConfigureLine(slave, line);
  if (::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK) != 0) ThrowErrno("fcntl");

  if (!link.empty()) PlaceLink(link);
}

void PseudoTerminal::PlaceLink(const std::string& link) {
  linkClaim_ = ClaimLinkName(link);
  if (!linkClaim_)
    throw std::system_error(EADDRINUSE, std::generic_category(),
                            link +
                                " is the link of a kestrum-sim that is still running; stop "
                                "that one or choose another --link");
  struct stat info {};
  if (::lstat(link.c_str(), &info) == 0) {
    if (!S_ISLNK(info.st_mode))
      throw std::system_error(EEXIST, std::generic_category(), link + " exists and is no link");
    // Left by an earlier run: it points nowhere, or to a pseudo-terminal (no running simulator
    // claims the name). A link to anything else is somebody else's.
    struct stat target {};
    const bool dangling = ::stat(link.c_str(), &target) != 0 && errno == ENOENT;
    const std::optional<xcom::DeviceNode> node =
        xcom::FindDeviceNode(std::filesystem::absolute(link).string());
    if (!dangling && !(node && node->pseudoTerminal))
      throw std::system_error(EEXIST, std::generic_category(),
                              link + " is a link to something that is no pseudo-terminal");
  }
  // Replaced in one step.
  const std::string temporary = link + ".tmp" + std::to_string(::getpid());
  ::unlink(temporary.c_str());
  if (::symlink(slavePath_.c_str(), temporary.c_str()) != 0) ThrowErrno(link);
  if (::rename(temporary.c_str(), link.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw std::system_error(error, std::generic_category(), link);
  }
  link_ = link;
}

PseudoTerminal::~PseudoTerminal() {
  RemoveLink();
}

void PseudoTerminal::RemoveLink() {
  if (link_.empty()) return;
  std::array<char, 512> target{};
  const ssize_t size = ::readlink(link_.c_str(), target.data(), target.size() - 1);
  if (size > 0 && std::string(target.data(), static_cast<std::size_t>(size)) == slavePath_)
    ::unlink(link_.c_str());
  link_.clear();
}

}  // namespace kestrum_sim
