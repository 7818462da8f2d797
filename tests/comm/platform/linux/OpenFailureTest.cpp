// Why an open failed, as the Linux layer notes it for the calling thread: a name that names
// nothing, a file that is no serial line, a device another port or program holds, a device the
// user may not open; and that a success or another thread's failure leaves no stale reason.
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "OpenFailure.h"
#include "PlatformTestSupport.h"
#include "SerialLineCheck.h"
#include "ThreadCapabilities.h"

namespace xcom::testing {
namespace {

// Opens `name`, which must fail, and answers the reason noted for it.
OpenFailureInfo FailureOf(const std::string& name) {
  auto device = OpenPlatformDevice(name);
  EXPECT_FALSE(device) << name << " opened";
  return LastOpenFailure();
}

TEST(PosixOpenFailure, NamesThatNameNothing) {
  ScratchDir dir;
  for (const std::string& name :
       {std::string(), std::string("no-such-serial-device-kestrum"), dir.Path() + "/missing",
        dir.Path() + "/missing/deeper", std::string("/nonexistent-kestrum-port/ttyX0"),
        std::string(5000, 'x')}) {
    const OpenFailureInfo failure = FailureOf(name);
    EXPECT_EQ(failure.reason, OpenFailure::NoSuchDevice) << name.substr(0, 60);
    EXPECT_NE(failure.systemError, 0);
  }
  // A zero byte would cut the name short at a device that exists: the whole name names none.
  ptytest::PtyPair pty;
  const OpenFailureInfo cut = FailureOf(pty.SlavePath() + std::string(1, '\0') + "x");
  EXPECT_EQ(cut.reason, OpenFailure::NoSuchDevice);
  EXPECT_EQ(cut.systemError, EINVAL);
  // A file in the path where a directory should be, and a dangling link.
  const std::string file = dir.Path() + "/plain";
  std::ofstream(file) << "x";
  EXPECT_EQ(FailureOf(file + "/tty").reason, OpenFailure::NoSuchDevice);
  const std::string dangling = dir.Path() + "/dangling";
  ASSERT_EQ(::symlink((dir.Path() + "/gone").c_str(), dangling.c_str()), 0);
  EXPECT_EQ(FailureOf(dangling).reason, OpenFailure::NoSuchDevice);
  EXPECT_EQ(FailureOf(dangling).systemError, ENOENT);
  // A link that leads back to itself names no device either, and is told as what it is.
  const std::string loop = dir.Path() + "/loop";
  ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);
  EXPECT_EQ(FailureOf(loop).reason, OpenFailure::Other);
  EXPECT_EQ(FailureOf(loop).systemError, ELOOP);
}

TEST(PosixOpenFailure, FilesThatAreNoSerialLine) {
  ScratchDir dir;
  const std::string file = dir.Path() + "/plain";
  std::ofstream(file) << "not a serial line";
  const std::string fifo = dir.Path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string linkToNull = dir.Path() + "/null-link";
  ASSERT_EQ(::symlink("/dev/null", linkToNull.c_str()), 0);
  for (const std::string& name : {file, dir.Path(), fifo, std::string("/dev/null"),
                                  std::string("/dev/zero"), std::string("null"), linkToNull})
    EXPECT_EQ(FailureOf(name).reason, OpenFailure::NotSerialDevice) << name;
}

// Watches `path` for being opened by anybody (inotify IN_OPEN).
class OpenWatch {
 public:
  explicit OpenWatch(const std::string& path) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0) ::inotify_add_watch(fd_, path.c_str(), IN_OPEN);
  }
  ~OpenWatch() { ::close(fd_); }
  bool Opened() const {
    char buffer[4096];
    return ::read(fd_, buffer, sizeof buffer) > 0;
  }

 private:
  int fd_;
};

TEST(PosixOpenFailure, OnlySerialLinesAreOpenedAndOthersNotEvenTouched) {
  ScratchDir dir;
  // Device nodes of our own for /dev/zero and /dev/ptmx, so that a watch sees only this test.
  const std::string zero = dir.Path() + "/zero", ptmx = dir.Path() + "/ptmx";
  if (::mknod(zero.c_str(), S_IFCHR | 0666, makedev(1, 5)) != 0 ||
      ::mknod(ptmx.c_str(), S_IFCHR | 0666, makedev(5, 2)) != 0)
    GTEST_SKIP() << "device nodes cannot be made here";
  for (const std::string& path : {zero, ptmx}) {
    OpenWatch watch(path);
    EXPECT_EQ(FailureOf(path).reason, OpenFailure::NotSerialDevice) << path;
    EXPECT_FALSE(watch.Opened()) << path << " was opened before it was checked";
  }
  // A node with the numbers of a UART the kernel knows passes; it is only checked, never opened.
  const std::string uart = dir.Path() + "/uart";
  if (std::filesystem::exists("/sys/dev/char/4:64") &&
      ::mknod(uart.c_str(), S_IFCHR | 0600, makedev(4, 64)) == 0) {
    EXPECT_EQ(CheckSerialLine(uart).reason, OpenFailure::None);
  }
  // The pseudo-terminal multiplexer by any path, a master by its descriptor, /dev/tty.
  ptytest::PtyPair pty;
  const std::string ptmxLink = dir.Path() + "/ptmx-link";
  ASSERT_EQ(::symlink("/dev/ptmx", ptmxLink.c_str()), 0);
  for (const std::string& name :
       {std::string("/dev/ptmx"), std::string("ptmx"), std::string("/dev/pts/ptmx"), ptmxLink,
        "/proc/self/fd/" + std::to_string(pty.MasterFd()), std::string("/dev/tty")})
    EXPECT_EQ(FailureOf(name).reason, OpenFailure::NotSerialDevice) << name;
}

// A link switched back and forth between a pseudo-terminal and a /dev/zero node while it is
// opened: what is opened is what was checked, so the node is never opened, however the switch
// falls between the check and the open.
TEST(PosixOpenFailure, ALinkSwitchedDuringTheOpenGetsNothingUncheckedOpened) {
  ScratchDir dir;
  const std::string zero = dir.Path() + "/zero", link = dir.Path() + "/link";
  if (::mknod(zero.c_str(), S_IFCHR | 0666, makedev(1, 5)) != 0)
    GTEST_SKIP() << "device nodes cannot be made here";
  ptytest::PtyPair pty;
  ASSERT_EQ(::symlink(zero.c_str(), link.c_str()), 0);
  OpenWatch watch(zero);
  std::jthread switcher([&](std::stop_token stop) {
    const std::string next = dir.Path() + "/next";
    for (bool toPty = true; !stop.stop_requested(); toPty = !toPty) {
      (void)!::symlink(toPty ? pty.SlavePath().c_str() : zero.c_str(), next.c_str());
      (void)!::rename(next.c_str(), link.c_str());  // replaces the link in one step
    }
  });
  int opened = 0;
  bool zeroOpened = false;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (!zeroOpened && std::chrono::steady_clock::now() < end) {
    if (OpenPlatformDevice(link)) ++opened;
    zeroOpened = watch.Opened();
  }
  switcher.request_stop();
  EXPECT_FALSE(zeroOpened) << "the node was opened after " << opened << " opens of the pty";
  EXPECT_GT(opened, 0);  // the pseudo-terminal did open through the same link
}

TEST(PosixOpenFailure, TheProcesssOwnTerminalIsRefusedUnderAnyName) {
  ptytest::PtyPair pty;
  ptytest::PtyPair output;  // a terminal on standard output that is not the controlling one
  ptytest::PtyPair other;   // nobody's standard stream: a line
  const pid_t child = ::fork();
  if (child == 0) {
    // A session whose controlling terminal and standard input are the pty's slave.
    ::setsid();
    const int own = ::open(pty.SlavePath().c_str(), O_RDWR);
    if (own < 0 || ::ioctl(own, TIOCSCTTY, 0) != 0 || ::dup2(own, 0) != 0) _exit(2);
    if (::dup2(output.SlaveFd(), 1) != 1) _exit(2);
    for (const char* name : {"/dev/tty", "/dev/stdin", "/proc/self/fd/0", "/dev/stdout"})
      if (OpenPlatformDevice(name) || LastOpenFailure().reason != OpenFailure::NotSerialDevice)
        _exit(3);
    // With standard input elsewhere, the controlling terminal alone still tells.
    const int null = ::open("/dev/null", O_RDONLY);
    if (null < 0 || ::dup2(null, 0) != 0) _exit(2);
    if (!OpenPlatformDevice(other.SlavePath())) _exit(5);
    _exit(OpenPlatformDevice(pty.SlavePath()) ? 4 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "2: no controlling terminal, 3/4: it was opened, 5: a line was refused";
  EXPECT_TRUE(OpenPlatformDevice(pty.SlavePath())) << "another process's terminal is a line";
  // The kernel's encoding of tty_nr, with a minor above 255 and a name with ") " in it.
  EXPECT_EQ(ControllingTerminalFromStat("7 (a) b) S 1 7 7 1083436 0"), makedev(136, 300));
  EXPECT_EQ(ControllingTerminalFromStat("7 (sh) S 1 7 7 0 0"), dev_t(0));
}

TEST(PosixOpenFailure, ADeviceHeldElsewhereIsBusy) {
  ptytest::PtyPair pty;
  auto held = OpenPlatformDevice(pty.SlavePath());
  ASSERT_TRUE(held);
  EXPECT_EQ(LastOpenFailure().reason, OpenFailure::None);
  EXPECT_EQ(FailureOf(pty.SlavePath()).reason, OpenFailure::Busy);
  EXPECT_EQ(FailureOf(std::filesystem::relative(pty.SlavePath()).string()).reason,
            OpenFailure::Busy);  // "../../dev/pts/N"
  held.reset();

  // Held by another process: its lock ends with it.
  DeviceHeldByChild other(pty.SlavePath());
  ASSERT_TRUE(other.Opened());
  EXPECT_EQ(FailureOf(pty.SlavePath()).reason, OpenFailure::Busy);
  ASSERT_TRUE(other.Release());
  EXPECT_TRUE(OpenPlatformDevice(pty.SlavePath()));
  EXPECT_EQ(LastOpenFailure().reason, OpenFailure::None);
}

TEST(PosixOpenFailure, AnotherProgramsExclusiveFlagMakesItBusy) {
  ptytest::PtyPair pty;
  // A program that does not lock but sets TIOCEXCL (as many terminal programs do).
  const int other = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
  {
    // Root passes TIOCEXCL; without CAP_SYS_ADMIN it meets it as a user does.
    ptytest::ScopedCapabilityDrop asUser({CAP_SYS_ADMIN});
    if (!asUser.Active()) GTEST_SKIP() << "this thread's capabilities cannot be lowered";
    const OpenFailureInfo failure = FailureOf(pty.SlavePath());
    EXPECT_EQ(failure.reason, OpenFailure::Busy);
    EXPECT_EQ(failure.systemError, EBUSY);
  }
  ::ioctl(other, TIOCNXCL);
  ::close(other);
}

TEST(PosixOpenFailure, ADeviceTheUserMayNotOpenIsPermissionDenied) {
  ptytest::PtyPair pty;
  ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0), 0);
  {
    ptytest::ScopedCapabilityDrop asUser({CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH});
    if (!asUser.Active()) GTEST_SKIP() << "this thread's capabilities cannot be lowered";
    const OpenFailureInfo failure = FailureOf(pty.SlavePath());
    EXPECT_EQ(failure.reason, OpenFailure::PermissionDenied);
    EXPECT_EQ(failure.systemError, EACCES);
  }
  // Who owns it, for the hint: here another user and the group "tty".
  ASSERT_EQ(::chown(pty.SlavePath().c_str(), 1, 5), 0);
  {
    ptytest::ScopedCapabilityDrop asUser({CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH});
    const OpenFailureInfo failure = FailureOf(pty.SlavePath());
    EXPECT_EQ(failure.deviceOwner, "daemon");
    EXPECT_EQ(failure.deviceGroup, "tty");
  }
  ::chmod(pty.SlavePath().c_str(), 0620);
  EXPECT_TRUE(OpenPlatformDevice(pty.SlavePath()));
}

TEST(PosixOpenFailure, EachThreadSeesItsOwnLastOpen) {
  ptytest::PtyPair pty;
  auto device = OpenPlatformDevice(pty.SlavePath());
  ASSERT_TRUE(device);
  OpenFailureInfo other;
  std::thread([&] {
    EXPECT_EQ(LastOpenFailure().reason, OpenFailure::None);  // nothing tried here yet
    OpenPlatformDevice("/dev/null");
    other = LastOpenFailure();
  }).join();
  EXPECT_EQ(other.reason, OpenFailure::NotSerialDevice);
  EXPECT_EQ(LastOpenFailure().reason, OpenFailure::None);
  // And a success after a failure clears the reason.
  EXPECT_EQ(FailureOf("/dev/null").reason, OpenFailure::NotSerialDevice);
  device.reset();
  EXPECT_TRUE(OpenPlatformDevice(pty.SlavePath()));
  EXPECT_EQ(LastOpenFailure().reason, OpenFailure::None);
  EXPECT_EQ(LastOpenFailure().systemError, 0);
}

}  // namespace
}  // namespace xcom::testing
