// LD_PRELOAD library for running the Windows tests under Wine on pseudo-terminals. Not part of
// the tool.
//
// 1. Wine's serial driver asks the line for its modem lines and interrupt counters before it
//    starts a WaitCommEvent. A pseudo-terminal has neither (the ioctls fail with ENOTTY), so
//    every event wait would fail. For pseudo-terminal slaves this library answers TIOCMGET
//    (all lines asserted, DTR/RTS as last set), TIOCMBIS/TIOCMBIC/TIOCMSET (remembered) and
//    TIOCGICOUNT (all counters 0). Everything else goes to the real ioctl.
// 2. Wine maps a COM port without a device link to /dev/ttyS<n-1> and probes those devices
//    while it sets up a prefix. On this machine /dev/ttyS0 is the kernel console, so every
//    open of an 8250-style serial device (major 4, minor 64 and up) fails with ENOENT here,
//    before the device is touched.

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace {

constexpr unsigned kPtySlaveMajorFirst = 136;  // UNIX98 pty slaves: majors 136..143
constexpr unsigned kPtySlaveMajorLast = 143;
constexpr unsigned kTtyMajor = 4;  // ttyS<n> is major 4, minor 64 + n
constexpr unsigned kFirstSerialMinor = 64;
constexpr int kMaxTrackedFd = 4096;

// DTR and RTS as the program last set them, per descriptor; -1: never set (reported raised).
std::atomic<int> outputLines[kMaxTrackedFd];
std::atomic<bool> outputLinesInit{false};

using IoctlFn = int (*)(int, unsigned long, ...);

IoctlFn RealIoctl() {
  static IoctlFn real = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, "ioctl"));
  return real;
}

template <typename Fn>
Fn Real(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

bool IsPtySlave(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = major(st.st_rdev);
  return m >= kPtySlaveMajorFirst && m <= kPtySlaveMajorLast;
}

bool IsLegacySerialDevice(int dirfd, const char* path) {
  struct stat st;
  if (path == nullptr || fstatat(dirfd, path, &st, 0) != 0 || !S_ISCHR(st.st_mode)) return false;
  return major(st.st_rdev) == kTtyMajor && minor(st.st_rdev) >= kFirstSerialMinor;
}

bool IsPtySlavePath(int dirfd, const char* path) {
  struct stat st;
  if (path == nullptr || fstatat(dirfd, path, &st, 0) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = major(st.st_rdev);
  return m >= kPtySlaveMajorFirst && m <= kPtySlaveMajorLast;
}

int OutputLines(int fd) {
  if (fd < 0 || fd >= kMaxTrackedFd) return TIOCM_DTR | TIOCM_RTS;
  const int v = outputLines[fd].load();
  return v < 0 ? (TIOCM_DTR | TIOCM_RTS) : v;
}

void SetOutputLines(int fd, int lines) {
  if (fd >= 0 && fd < kMaxTrackedFd) outputLines[fd].store(lines & (TIOCM_DTR | TIOCM_RTS));
}

void InitOnce() {
  bool expected = false;
  if (outputLinesInit.compare_exchange_strong(expected, true)) {
    for (auto& v : outputLines) v.store(-1);
  }
}

int Refuse() {
  errno = ENOENT;
  return -1;
}

bool NeedsMode(int flags) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);

  switch (request) {
    case TIOCMGET:
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMSET:
    case TIOCGICOUNT:
      break;
    default:
      return RealIoctl()(fd, request, arg);
  }
  const int result = RealIoctl()(fd, request, arg);
  if (result == 0 || errno != ENOTTY || !IsPtySlave(fd)) return result;

  InitOnce();
  switch (request) {
    case TIOCMGET:
      *static_cast<int*>(arg) = OutputLines(fd) | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
      return 0;
    case TIOCMBIS:
      SetOutputLines(fd, OutputLines(fd) | *static_cast<const int*>(arg));
      return 0;
    case TIOCMBIC:
      SetOutputLines(fd, OutputLines(fd) & ~*static_cast<const int*>(arg));
      return 0;
    case TIOCMSET:
      SetOutputLines(fd, *static_cast<const int*>(arg));
      return 0;
    case TIOCGICOUNT:
      std::memset(arg, 0, sizeof(serial_icounter_struct));
      return 0;
  }
  return result;
}

// The open family: every entry point a program may reach through the C library.
static int OpenChecked(const char* realName, int dirfd, const char* path, int flags, mode_t mode) {
  if (IsLegacySerialDevice(dirfd, path)) return Refuse();
  // Wine's server opens the ports; as a session leader without a terminal it would take a
  // pseudo-terminal as its controlling terminal and get SIGHUP when the peer hangs up.
  if (IsPtySlavePath(dirfd, path)) flags |= O_NOCTTY;
  auto real = Real<int (*)(const char*, int, ...)>(realName);
  return real(path, flags, mode);
}

static int OpenAtChecked(const char* realName, int dirfd, const char* path, int flags,
                         mode_t mode) {
  if (IsLegacySerialDevice(dirfd, path)) return Refuse();
  if (IsPtySlavePath(dirfd, path)) flags |= O_NOCTTY;
  auto real = Real<int (*)(int, const char*, int, ...)>(realName);
  return real(dirfd, path, flags, mode);
}

static mode_t ModeArgument(int flags, va_list ap) {
  return NeedsMode(flags) ? static_cast<mode_t>(va_arg(ap, int)) : 0;
}

__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = ModeArgument(flags, ap);
  va_end(ap);
  return OpenChecked("open", AT_FDCWD, path, flags, mode);
}

__attribute__((visibility("default"))) int open64(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = ModeArgument(flags, ap);
  va_end(ap);
  return OpenChecked("open64", AT_FDCWD, path, flags, mode);
}

__attribute__((visibility("default"))) int openat(int dirfd, const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = ModeArgument(flags, ap);
  va_end(ap);
  return OpenAtChecked("openat", dirfd, path, flags, mode);
}

__attribute__((visibility("default"))) int openat64(int dirfd, const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = ModeArgument(flags, ap);
  va_end(ap);
  return OpenAtChecked("openat64", dirfd, path, flags, mode);
}

// The fortified variants (_FORTIFY_SOURCE) take no mode.
__attribute__((visibility("default"))) int __open_2(const char* path, int flags) {
  return OpenChecked("open", AT_FDCWD, path, flags, 0);
}

__attribute__((visibility("default"))) int __open64_2(const char* path, int flags) {
  return OpenChecked("open64", AT_FDCWD, path, flags, 0);
}

__attribute__((visibility("default"))) int __openat_2(int dirfd, const char* path, int flags) {
  return OpenAtChecked("openat", dirfd, path, flags, 0);
}

__attribute__((visibility("default"))) int __openat64_2(int dirfd, const char* path, int flags) {
  return OpenAtChecked("openat64", dirfd, path, flags, 0);
}

}  // extern "C"
