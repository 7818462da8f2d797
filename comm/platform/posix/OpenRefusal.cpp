#include "OpenRefusal.h"

#include <grp.h>
#include <pwd.h>

#include <cerrno>
#include <utility>

namespace xcom {

OpenFailure OpenFailureOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ENXIO:   // a device node without its driver or hardware
    case ENODEV:  // the same, or an adapter unplugged a moment ago
    case EIO:     // a port whose hardware does not answer
      return OpenFailure::NoSuchDevice;
    case EACCES:
    case EPERM:
    case EROFS:
      return OpenFailure::PermissionDenied;
    case EBUSY:  // TIOCEXCL set by another program
    case EWOULDBLOCK:
      return OpenFailure::Busy;
    default:  // also ELOOP: a loop of links, told by the system's own words
      return OpenFailure::Other;
  }
}

std::unique_ptr<CommDevice> Refused(OpenFailure reason, int error) {
  NoteOpenFailure(reason, error);
  return nullptr;
}

std::unique_ptr<CommDevice> RefusedPermission(const struct stat& info, int error) {
  OpenFailureInfo failure{OpenFailure::PermissionDenied, error, {}, {}};
  char buffer[4096];
  passwd user{};
  passwd* userFound = nullptr;
  if (::getpwuid_r(info.st_uid, &user, buffer, sizeof buffer, &userFound) == 0 && userFound)
    failure.deviceOwner = user.pw_name;
  group owners{};
  group* groupFound = nullptr;
  if (::getgrgid_r(info.st_gid, &owners, buffer, sizeof buffer, &groupFound) == 0 && groupFound)
    failure.deviceGroup = owners.gr_name;
  NoteOpenFailure(std::move(failure));
  return nullptr;
}

}  // namespace xcom
