#pragma once
// Test helper: takes capabilities out of the calling thread's effective set for a while, so that
// a test running as root meets the permission checks an ordinary user meets (root opens a file
// of mode 000 and ignores another program's TIOCEXCL only through CAP_DAC_OVERRIDE and
// CAP_SYS_ADMIN). Linux keeps capabilities per thread: other threads are not affected, and the
// destructor puts the effective set back (the permitted set is never touched). Linux only.
//
//   {
//     ScopedCapabilityDrop asUser({CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH});
//     ... open() of a file with mode 000 now fails with EACCES, even as root ...
//   }

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <initializer_list>

namespace ptytest {

class ScopedCapabilityDrop {
 public:
  explicit ScopedCapabilityDrop(std::initializer_list<int> capabilities) {
    if (!Get(saved_)) return;
    __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
    for (int capability : capabilities)
      lowered[capability / 32].effective &= ~(1u << (capability % 32));
    active_ = Set(lowered);
  }
  ~ScopedCapabilityDrop() {
    if (active_) Set(saved_);
  }
  ScopedCapabilityDrop(const ScopedCapabilityDrop&) = delete;
  ScopedCapabilityDrop& operator=(const ScopedCapabilityDrop&) = delete;

  // False when the thread's capabilities could not be read or lowered.
  bool Active() const { return active_; }

 private:
  static bool Get(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, data) == 0;
  }
  static bool Set(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capset, &header, data) == 0;
  }

  __user_cap_data_struct saved_[2] = {};
  bool active_ = false;
};

}  // namespace ptytest
