// build/bin/kestrum-sim as a program: the device path on the first line, the link, the
// commands on standard input, the signals, the exit codes.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "DeviceNode.h"
#include "SimTestSupport.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using simtest::ReadRequest;

// One run of the program with pipes on its standard streams. The destructor kills it (by its
// pid) if it still runs and reaps it.
class Program {
 public:
  // `readStderr` false: nobody ever reads the program's standard error.
  explicit Program(const std::vector<std::string>& arguments, bool readStderr = true)
      : readStderr_(readStderr) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC))
      throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> argvText{KESTRUM_SIM_PROGRAM};
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : argvText) argv.push_back(text.data());
    argv.push_back(nullptr);
    const int result =
        posix_spawn(&pid_, KESTRUM_SIM_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    stdin_.Reset(in[1]);
    stdout_.Reset(out[0]);
    stderr_.Reset(err[0]);
    if (result != 0) throw std::runtime_error("posix_spawn failed");
    ::fcntl(stderr_.Get(), F_SETFL, O_NONBLOCK);
  }
  ~Program() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  pid_t Pid() const { return pid_; }
  void Type(const std::string& text) {
    ASSERT_EQ(::write(stdin_.Get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void CloseStdin() { stdin_.Reset(); }

  // One line of standard output without its newline; nullopt after the time-out or at the end.
  std::optional<std::string> Line(std::chrono::milliseconds timeout = 10s) {
    const auto giveUp = kestrum_sim::Clock::now() + timeout;
    for (;;) {
      if (const auto end = out_.find('\n'); end != std::string::npos) {
        std::string line = out_.substr(0, end);
        out_.erase(0, end + 1);
        return line;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - kestrum_sim::Clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd p{stdout_.Get(), POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[512];
      const ssize_t n = ::read(stdout_.Get(), buffer, sizeof buffer);
      if (n <= 0) return std::nullopt;
      out_.append(buffer, static_cast<std::size_t>(n));
      DrainStderr();
    }
  }

  // Exit status, or nullopt if it has not ended within `timeout`.
  std::optional<int> Wait(std::chrono::milliseconds timeout = 10s) {
    const auto giveUp = kestrum_sim::Clock::now() + timeout;
    while (!status_) {
      DrainStderr();
      int status = 0;
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (kestrum_sim::Clock::now() > giveUp) return std::nullopt;
      std::this_thread::sleep_for(10ms);
    }
    DrainStderr();
    return status_;
  }

  std::string Stderr() {
    DrainStderr();
    return err_;
  }

 private:
  void DrainStderr() {
    if (!readStderr_) return;
    char buffer[4096];
    for (ssize_t n; (n = ::read(stderr_.Get(), buffer, sizeof buffer)) > 0;)
      err_.append(buffer, static_cast<std::size_t>(n));
  }

  bool readStderr_;
  pid_t pid_ = -1;
  std::optional<int> status_;
  kestrum_sim::UniqueFd stdin_, stdout_, stderr_;
  std::string out_, err_;
};

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/kestrum-sim-test-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
    path_ = pattern;
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

TEST(Program, PrintsTheDevicePathFirstAndTakesCommandsWhileServing) {
  Program sim({"--di", "1,0"});
  const auto path = sim.Line();
  ASSERT_TRUE(path.has_value()) << sim.Stderr();
  EXPECT_EQ(path->rfind("/dev/pts/", 0), 0u) << *path;
  const auto port = simtest::OpenRaw(*path);
  simtest::WriteAll(port.Get(), ReadRequest(100, 0x10, 2));
  EXPECT_EQ(simtest::Hex(simtest::ReadCount(port.Get(), 9)), "64 03 04 00 01 00 00 9E F5 ");

  sim.Type("di 2 1\n");
  EXPECT_EQ(sim.Line(), "DI2=1");
  simtest::WriteAll(port.Get(), ReadRequest(100, 0x10, 2));
  EXPECT_EQ(simtest::ReadCount(port.Get(), 9), simtest::TwoRegisterReply(100, 1, 1));

  sim.Type("show\n");
  const auto shown = sim.Line();
  EXPECT_EQ(shown, "address 100, control mode");
  sim.Type("quit\n");
  EXPECT_EQ(sim.Wait(), 0);
}

TEST(Program, LinkIsMadeAndRemovedWhenASignalEndsIt) {
  TempDir dir;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    const std::string link = dir / "kestrum";
    // A stale link of an earlier run is replaced.
    std::filesystem::remove(link);
    std::filesystem::create_symlink("/nonexistent/pts", link);
    Program sim({"--link", link, "--verbose"});
    const auto path = sim.Line();
    ASSERT_TRUE(path.has_value()) << sim.Stderr();
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), *path);
    // The tool opens the link, not the pts path.
    const auto port = simtest::OpenRaw(link);
    simtest::WriteAll(port.Get(), ReadRequest(100, 0x14, 2));
    EXPECT_EQ(simtest::ReadCount(port.Get(), 9).size(), 9u);
    ASSERT_EQ(::kill(sim.Pid(), signal), 0);
    EXPECT_EQ(sim.Wait(), 0) << sim.Stderr();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    // --verbose shows the traffic with time stamps on standard error.
    EXPECT_NE(sim.Stderr().find(" RX 64 03 00 14 00 02 8D FA"), std::string::npos) << sim.Stderr();
    EXPECT_NE(sim.Stderr().find(" TX 64 03 04 00 00 00 00"), std::string::npos) << sim.Stderr();
  }
}

TEST(Program, EndOfStandardInputDoesNotEndIt) {
  Program sim({});
  const auto path = sim.Line();
  ASSERT_TRUE(path.has_value());
  sim.CloseStdin();
  std::this_thread::sleep_for(300ms);
  const auto port = simtest::OpenRaw(*path);
  simtest::WriteAll(port.Get(), ReadRequest(100, 0x10, 2));
  EXPECT_EQ(simtest::ReadCount(port.Get(), 9).size(), 9u);
  EXPECT_FALSE(sim.Wait(100ms).has_value());
  ::kill(sim.Pid(), SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
}

TEST(Program, AttachesToAnExistingDeviceAndLocksIt) {
  ptytest::PtyPair pty;
  const std::string name = pty.SlavePath();
  Program sim({"--device", name, "--address", "7", "--di", "0,1"});
  EXPECT_EQ(sim.Line(), name) << sim.Stderr();
  // The test is the tool, on the master side of this pair.
  simtest::WriteAll(pty.MasterFd(), ReadRequest(7, 0x10, 2));
  EXPECT_EQ(simtest::ReadCount(pty.MasterFd(), 9), simtest::TwoRegisterReply(7, 0, 1));
  // A second module on the same device is refused.
  Program second({"--device", name});
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_NE(second.Stderr().find(name), std::string::npos) << second.Stderr();
  ::kill(sim.Pid(), SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
}

TEST(Program, ExitCodesForHelpBadOptionsAndMissingDevices) {
  Program help({"--help"});
  EXPECT_EQ(help.Line(), "Usage: kestrum-sim [options]");
  EXPECT_EQ(help.Wait(), 0);
  Program bad({"--baud", "fast"});
  EXPECT_EQ(bad.Wait(), 2);
  EXPECT_NE(bad.Stderr().find("bad baud rate"), std::string::npos);
  Program missing({"--device", "/nonexistent/ttyUSB9"});
  EXPECT_EQ(missing.Wait(), 1);
  EXPECT_NE(missing.Stderr().find("/nonexistent/ttyUSB9"), std::string::npos);
  TempDir dir;
  const std::string file = dir / "regular";
  {
    std::FILE* f = std::fopen(file.c_str(), "w");
    std::fclose(f);
  }
  Program refused({"--link", file});
  EXPECT_EQ(refused.Wait(), 1);
  EXPECT_TRUE(std::filesystem::is_regular_file(file));
}

}  // namespace

namespace {

TEST(Program, DeviceMustBeASerialLineBeforeItIsOpened) {
  TempDir dir;
  const std::string toPasswd = dir / "passwd-link", toPtmx = dir / "ptmx-link";
  std::filesystem::create_symlink("/etc/passwd", toPasswd);
  std::filesystem::create_symlink("/dev/ptmx", toPtmx);
  for (const std::string& device : {toPasswd, toPtmx, std::string("/dev/ptmx"),
                                    std::string("/dev/null"), std::string("/dev/tty")}) {
    Program sim({"--device", device});
    EXPECT_EQ(sim.Wait(), 1) << device;
    EXPECT_NE(sim.Stderr().find(device + ": not a serial line"), std::string::npos) << sim.Stderr();
  }
}

TEST(Program, LinkReplacesOnlyALeftOverLink) {
  TempDir dir;
  const std::string link = dir / "kestrum";
  Program first({"--link", link});
  const auto firstPath = first.Line();
  ASSERT_TRUE(firstPath.has_value()) << first.Stderr();
  // A running simulator's link is refused and left alone.
  Program second({"--link", link});
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_NE(second.Stderr().find("still running"), std::string::npos) << second.Stderr();
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), *firstPath);
  ::kill(first.Pid(), SIGKILL);  // no chance to remove its link
  ASSERT_TRUE(first.Wait().has_value());

  // Links to what is no pseudo-terminal are somebody else's.
  for (const std::string& target :
       {std::string("/dev/null"), dir / ".", std::string("/proc/self/fd/0")}) {
    const std::string other = dir / "other";
    std::filesystem::remove(other);
    std::filesystem::create_symlink(target, other);
    Program sim({"--link", other});
    EXPECT_EQ(sim.Wait(), 1) << target;
    EXPECT_EQ(std::filesystem::read_symlink(other).string(), target);
  }
  // The killed simulator's link (to a pty no simulator holds) is replaced.
  Program third({"--link", link});
  const auto thirdPath = third.Line();
  ASSERT_TRUE(thirdPath.has_value()) << third.Stderr();
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), *thirdPath);
}

// The window reopens a returning device under a link only while the link's simulator holds it
// (TLineWatch, xcom::DeviceNode): the program's claim and the component's look-up must agree.
TEST(Program, TheWindowSeesTheRunningSimulatorsClaimOnItsLink) {
  TempDir dir;
  const std::string link = dir / "kestrum";
  Program sim({"--link", link});
  const auto path = sim.Line();
  ASSERT_TRUE(path.has_value()) << sim.Stderr();
  const std::string sameLinkSpeltOtherwise = dir / "./kestrum";
  const std::string unclaimed = dir / "made-by-someone-else";
  std::filesystem::create_symlink(*path, unclaimed);
  for (const auto& [name, claimed] :
       {std::pair{link, true}, std::pair{sameLinkSpeltOtherwise, true},
        std::pair{unclaimed, false}}) {
    const auto node = xcom::FindDeviceNode(name);
    ASSERT_TRUE(node.has_value()) << name;
    EXPECT_TRUE(node->pseudoTerminal && node->throughLink) << name;
    EXPECT_EQ(node->NameStaysWithTheDevice(), claimed) << name;
  }
}

TEST(Program, AnUnreadStandardErrorNeverStopsTheAnswers) {
  Program sim({"--verbose", "--baud", "115200"}, /*readStderr=*/false);
  const auto path = sim.Line();
  ASSERT_TRUE(path.has_value());
  const auto port = simtest::OpenRaw(*path);
  // Two report lines per request: a 64 KiB pipe is full long before the last one.
  for (int i = 0; i < 1500; ++i) {
    simtest::WriteAll(port.Get(), ReadRequest(100, 0x10, 2));
    ASSERT_EQ(simtest::ReadCount(port.Get(), 9).size(), 9u) << "no answer to request " << i;
  }
  ::kill(sim.Pid(), SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
}

}  // namespace
