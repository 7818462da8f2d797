// kestrum-sim: the simulated KESTRUM module as a program. See --help.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "LineSetup.h"
#include "ProjectVersion.h"
#include "PseudoTerminal.h"
#include "SerialDevice.h"
#include "Simulator.h"
#include "StderrQueue.h"
#include "kestrum-sim/CommandLine.h"

namespace {

using namespace kestrum_sim;

std::mutex outputMutex;

void Print(std::FILE* stream, const std::string& text) {
  std::lock_guard lock(outputMutex);
  std::fputs(text.c_str(), stream);
  std::fflush(stream);
}

std::string SettingsText(const CommandLine& options, const Simulator& simulator) {
  const auto& module = options.simulator.module;
  char silence[32];
  std::snprintf(silence, sizeof silence, "%.3f ms",
                static_cast<double>(simulator.Silence().count()) / 1000.0);
  return "module at address " + std::to_string(module.address) +
         ", DI1=" + std::to_string(module.inputs[0]) + " DI2=" + std::to_string(module.inputs[1]) +
         ", " + std::to_string(options.simulator.line.baud) + " " +
         options.simulator.line.FormatText() + ", end of frame after " + silence + " of silence";
}

// Signals arrive through a descriptor, so that the main loop ends cleanly and the link is
// removed. Blocked before the line thread starts, so that only this thread sees them. An empty
// descriptor when that failed (reported).
UniqueFd TakeEndSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) {
    Print(stderr, "kestrum-sim: cannot block signals\n");
    return UniqueFd();
  }
  UniqueFd signalFd(::signalfd(-1, &signals, SFD_CLOEXEC));
  if (!signalFd)
    Print(stderr, std::string("kestrum-sim: signalfd: ") + std::strerror(errno) + "\n");
  return signalFd;
}

// The line the module serves: a new pseudo-terminal or the given device.
struct ServedLine {
  std::unique_ptr<PseudoTerminal> pty;
  UniqueFd device;
  std::string path;
  int fd = -1;
};

std::optional<ServedLine> OpenServedLine(const CommandLine& options) {
  ServedLine line;
  try {
    if (options.endpoint == CommandLine::Endpoint::Pty) {
      line.pty = std::make_unique<PseudoTerminal>(options.simulator.line, options.link);
      line.path = line.pty->SlavePath();
      line.fd = line.pty->MasterFd();
    } else {
      line.device = OpenSerialDevice(options.device, options.simulator.line);
      line.path = options.device;
      line.fd = line.device.Get();
    }
  } catch (const std::exception& error) {
    Print(stderr, std::string("kestrum-sim: ") + error.what() + "\n");
    return std::nullopt;
  }
  return line;
}

// The console's "line": what the line runs at now. On a pseudo-terminal that is what the
// program on the other end set (a serial device server that a client asked for a rate).
ConsoleReply LineCommand(int lineFd) {
  const std::optional<LineSettings> line = ReadLineSetup(lineFd);
  if (!line) return {"line: cannot read the line's settings\n", false};
  return {"line " + std::to_string(line->baud) + " " + line->FormatText() + "\n", false};
}

// Runs the console commands of complete lines in `pending`; true when one of them was quit.
bool RunPendingCommands(std::string& pending, Simulator& simulator, std::atomic<bool>& verbose,
                        int lineFd) {
  for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
    std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const ConsoleReply reply =
        line == "line" ? LineCommand(lineFd) : RunConsoleCommand(line, simulator, verbose);
    if (!reply.output.empty()) Print(stdout, reply.output);
    if (reply.quit) return true;
  }
  return false;
}

// Serves console commands until quit, a signal, or the line thread's end; the exit status.
int RunConsole(int signalFd, Simulator& simulator, std::atomic<bool>& verbose,
               StderrQueue& stderrQueue, int lineFd) {
  bool stdinOpen = true;
  std::string pending;
  for (;;) {
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
    if (::poll(fds, 2, 200) < 0 && errno != EINTR) {
      stderrQueue.Report(std::string("kestrum-sim: poll: ") + std::strerror(errno) + "\n");
      return 1;
    }
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      if (::read(signalFd, &info, sizeof info) == sizeof info)
        stderrQueue.Report(std::string("kestrum-sim: ") +
                           strsignal(static_cast<int>(info.ssi_signo)) + ", stopping\n");
      return 0;
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      char chunk[512];
      const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
      if (got <= 0) {
        // End of input (or no usable input, as under a test runner): keep serving.
        if (got == 0 || errno != EINTR) stdinOpen = false;
      } else {
        pending.append(chunk, static_cast<std::size_t>(got));
        if (RunPendingCommands(pending, simulator, verbose, lineFd)) return 0;
      }
    }
    if (!simulator.Running()) {
      stderrQueue.Report("kestrum-sim: " + simulator.LastError() + "\n");
      return 1;
    }
  }
}

int Serve(const CommandLine& options) {
  const UniqueFd signalFd = TakeEndSignals();
  if (!signalFd) return 1;
  ::signal(SIGPIPE, SIG_IGN);
  std::optional<ServedLine> line = OpenServedLine(options);
  if (!line) return 1;
  // Standard error may be a pipe nobody reads: reports must never hold up serving. (Its
  // writer thread starts with the signals blocked, like the line thread.)
  StderrQueue stderrQueue(STDERR_FILENO);

  Simulator simulator(options.simulator);
  std::atomic<bool> verbose{options.verbose};
  simulator.SetLogSink([&verbose, &stderrQueue](const LogEntry& entry) {
    if (entry.level == LogEntry::Level::Event || verbose)
      stderrQueue.Report(FormatLogEntry(entry) + "\n");
  });

  // The first line on standard output is the device the tool must open.
  Print(stdout, line->path + "\n");
  std::string where = line->path;
  if (line->pty && !line->pty->LinkPath().empty()) where += " (link " + line->pty->LinkPath() + ")";
  stderrQueue.Report("kestrum-sim: " + SettingsText(options, simulator) + ", on " + where +
                     "; type 'help' for commands\n");
  try {
    simulator.Start(line->fd);
  } catch (const std::exception& error) {
    stderrQueue.Report(std::string("kestrum-sim: ") + error.what() + "\n");
    return 1;
  }
  const int status = RunConsole(signalFd.Get(), simulator, verbose, stderrQueue, line->fd);
  simulator.Stop();
  if (line->pty) line->pty->RemoveLink();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const ParsedCommandLine parsed = ParseCommandLine(arguments);
  if (!parsed.commandLine) {
    std::fprintf(stderr, "kestrum-sim: %s\nTry 'kestrum-sim --help'.\n", parsed.error.c_str());
    return 2;
  }
  if (parsed.commandLine->help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  if (parsed.commandLine->version) {
    std::printf("kestrum-sim %.*s\n", static_cast<int>(kProjectVersion.size()),
                kProjectVersion.data());
    return 0;
  }
  try {
    return Serve(*parsed.commandLine);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kestrum-sim: %s\n", error.what());
    return 1;
  }
}
