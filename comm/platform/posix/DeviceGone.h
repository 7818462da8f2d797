#pragma once
// How a terminal says it has gone away (an adapter pulled, the far end of a pseudo-terminal
// closed): the errors of its calls and the poll() bits that mean no more bytes will move.

#include <poll.h>

#include <cerrno>

namespace xcom {

inline bool IsDeviceGoneError(int error) {
  return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

inline constexpr short kPollDead = POLLHUP | POLLERR | POLLNVAL;

}  // namespace xcom
