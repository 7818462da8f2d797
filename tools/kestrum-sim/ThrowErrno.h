#pragma once
// The simulator's way of failing a system call: a std::system_error with the errno the call
// left and what was being done.

#include <cerrno>
#include <string>
#include <system_error>

namespace kestrum_sim {

[[noreturn]] inline void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace kestrum_sim
