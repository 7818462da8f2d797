// build/bin/kestrum as a program: usage errors, a port that cannot be opened, and Ctrl-C
// releasing the port. (--help, --version and the man page: tests/packaging.)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "PseudoTerminal.h"
#include "Simulator.h"
#include "XComDrv.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// One run of kestrum with its standard output and error in pipes; killed (by pid) and reaped
// by the destructor if it still runs.
class Program {
 public:
  // Standard output: a pipe, or `output` ("-" for none: closed).
  explicit Program(std::vector<std::string> arguments, const char* output = nullptr) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!output)
      posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    else if (std::string(output) == "-")
      posix_spawn_file_actions_addclose(&actions, 1);
    else
      posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    arguments.insert(arguments.begin(), KESTRUM_PROGRAM);
    std::vector<char*> argv;
    for (auto& text : arguments) argv.push_back(text.data());
    argv.push_back(nullptr);
    const int failed = posix_spawn(&pid_, KESTRUM_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    out_ = kestrum_sim::UniqueFd(out[0]);
    err_ = kestrum_sim::UniqueFd(err[0]);
    if (failed) throw std::runtime_error("posix_spawn failed");
  }
  ~Program() {
    if (status_ < 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  void Signal(int signal) { ::kill(pid_, signal); }
  void CloseOutput() { out_.Reset(); }  // a reader that goes away
  // Waits for the first bytes on standard output.
  std::string FirstOutput() {
    pollfd p{out_.Get(), POLLIN, 0};
    char buffer[512];
    if (::poll(&p, 1, 5000) <= 0) return {};
    const ssize_t n = ::read(out_.Get(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
  }
  // Waits for the end; the exit code (128 + signal when killed).
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
  }
  std::string Rest(bool error) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read((error ? err_ : out_).Get(), buffer, sizeof buffer)) > 0;)
      text.append(buffer, static_cast<std::size_t>(n));
    return text;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  kestrum_sim::UniqueFd out_, err_;
};

TEST(KestrumProgram, UsageErrorsAndAPortThatIsNoSerialLine) {
  Program wrong({"-p", "/dev/null", "relay", "3", "on"});
  EXPECT_EQ(wrong.Wait(), 2);
  EXPECT_EQ(wrong.Rest(false), "");  // nothing but results on standard output
  EXPECT_NE(wrong.Rest(true).find("kestrum: relay takes a number from 1 to 2"), std::string::npos);
  Program notSerial({"-p", "/dev/null", "read"});
  EXPECT_EQ(notSerial.Wait(), 4);
  EXPECT_NE(notSerial.Rest(true).find("/dev/null: cannot open: not a serial device"),
            std::string::npos);
}

// A result that cannot be written is an error of its own (exit 5), said on standard error; a
// reader that went away ends the run quietly, with the same code.
TEST(KestrumProgram, AResultThatCannotBeWrittenIsAnError) {
  kestrum_sim::PseudoTerminal line{kestrum_sim::LineSettings{}};
  kestrum_sim::Simulator sim;
  sim.Start(line.MasterFd());
  for (const char* output : {"/dev/full", "-"}) {
    Program run({"-p", line.SlavePath(), "--json", "read"}, output);
    EXPECT_EQ(run.Wait(), 5) << output;
    EXPECT_NE(run.Rest(true).find("kestrum: cannot write the results: "), std::string::npos);
  }
  Program gone({"-p", line.SlavePath(), "read"});
  gone.CloseOutput();
  EXPECT_EQ(gone.Wait(), 5);
  EXPECT_EQ(gone.Rest(true), "");
}

TEST(KestrumProgram, CtrlCEndsAtOnceAndReleasesThePort) {
  kestrum_sim::PseudoTerminal live{kestrum_sim::LineSettings{}}, dead{kestrum_sim::LineSettings{}};
  kestrum_sim::Simulator sim;
  sim.Start(live.MasterFd());
  // A watch ended by Ctrl-C ends as meant: the code of its reads.
  Program watch({"-p", live.SlavePath(), "watch", "--interval", "100"});
  EXPECT_EQ(watch.FirstOutput().rfind("DI1=0 DI2=0 DO1=0 DO2=0\n", 0), 0u);
  watch.Signal(SIGINT);
  EXPECT_EQ(watch.Wait(), 0);
  // A read waiting for a module that never answers.
  Program waiting({"-p", dead.SlavePath(), "-t", "5000", "read"});
  std::this_thread::sleep_for(200ms);
  const auto interrupted = Clock::now();
  waiting.Signal(SIGINT);
  EXPECT_EQ(waiting.Wait(), 130);
  EXPECT_LT(Clock::now() - interrupted, 1s);
  for (const auto* port : {&live, &dead}) {  // free to be opened again
    xcom::TXComm again;
    again.SetDeviceName(port->SlavePath());
    EXPECT_TRUE(again.OpenDevice()) << port->SlavePath();
  }
}

}  // namespace
