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
#include <string>
#include <vector>

#include "CommandLine.h"
#include "SerialLine.h"
#include "Simulator.h"

namespace {

using namespace kestrum_sim;

std::mutex output_mutex;

void Print(std::FILE* stream, const std::string& text) {
  std::lock_guard lock(output_mutex);
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

int Serve(const CommandLine& options) {
  // Signals arrive through a descriptor, so that the main loop ends cleanly and the link is
  // removed. Blocked before the line thread starts, so that only this thread sees them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) {
    Print(stderr, "kestrum-sim: cannot block signals\n");
    return 1;
  }
  UniqueFd signal_fd(::signalfd(-1, &signals, SFD_CLOEXEC));
  if (!signal_fd) {
    Print(stderr, std::string("kestrum-sim: signalfd: ") + std::strerror(errno) + "\n");
    return 1;
  }
  ::signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<PseudoTerminal> pty;
  UniqueFd device;
  std::string path;
  int line_fd = -1;
  try {
    if (options.endpoint == CommandLine::Endpoint::kPty) {
      pty = std::make_unique<PseudoTerminal>(options.simulator.line, options.link);
      path = pty->SlavePath();
      line_fd = pty->MasterFd();
    } else {
      device = OpenSerialDevice(options.device, options.simulator.line);
      path = options.device;
      line_fd = device.Get();
    }
  } catch (const std::exception& error) {
    Print(stderr, std::string("kestrum-sim: ") + error.what() + "\n");
    return 1;
  }

  Simulator simulator(options.simulator);
  std::atomic<bool> verbose{options.verbose};
  simulator.SetLogSink([&verbose](const LogEntry& entry) {
    if (entry.level == LogEntry::Level::kEvent || verbose)
      Print(stderr, FormatLogEntry(entry) + "\n");
  });

  // The first line on standard output is the device the tool must open.
  Print(stdout, path + "\n");
  std::string where = path;
  if (pty && !pty->LinkPath().empty()) where += " (link " + pty->LinkPath() + ")";
  Print(stderr, "kestrum-sim: " + SettingsText(options, simulator) + ", on " + where +
                    "; type 'help' for commands\n");
  try {
    simulator.Start(line_fd);
  } catch (const std::exception& error) {
    Print(stderr, std::string("kestrum-sim: ") + error.what() + "\n");
    return 1;
  }

  bool stdin_open = true;
  std::string pending;
  int status = 0;
  for (bool done = false; !done;) {
    pollfd fds[2] = {{signal_fd.Get(), POLLIN, 0}, {stdin_open ? STDIN_FILENO : -1, POLLIN, 0}};
    if (::poll(fds, 2, 200) < 0 && errno != EINTR) {
      Print(stderr, std::string("kestrum-sim: poll: ") + std::strerror(errno) + "\n");
      status = 1;
      break;
    }
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      if (::read(signal_fd.Get(), &info, sizeof info) == sizeof info)
        Print(stderr, std::string("kestrum-sim: ") + strsignal(static_cast<int>(info.ssi_signo)) +
                          ", stopping\n");
      break;
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      char chunk[512];
      const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
      if (got <= 0) {
        // End of input (or no usable input, as under a test runner): keep serving.
        if (got == 0 || errno != EINTR) stdin_open = false;
      } else {
        pending.append(chunk, static_cast<std::size_t>(got));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
          std::string line = pending.substr(0, end);
          pending.erase(0, end + 1);
          if (!line.empty() && line.back() == '\r') line.pop_back();
          const ConsoleReply reply = RunConsoleCommand(line, simulator, verbose);
          if (!reply.output.empty()) Print(stdout, reply.output);
          if (reply.quit) {
            done = true;
            break;
          }
        }
      }
    }
    if (!simulator.Running()) {
      Print(stderr, "kestrum-sim: " + simulator.LastError() + "\n");
      status = 1;
      break;
    }
  }
  simulator.Stop();
  if (pty) pty->RemoveLink();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const ParsedCommandLine parsed = ParseCommandLine(arguments);
  if (!parsed.command_line) {
    std::fprintf(stderr, "kestrum-sim: %s\nTry 'kestrum-sim --help'.\n", parsed.error.c_str());
    return 2;
  }
  if (parsed.command_line->help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  try {
    return Serve(*parsed.command_line);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kestrum-sim: %s\n", error.what());
    return 1;
  }
}
