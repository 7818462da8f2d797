#pragma once
// The simulator's command line and the commands a person types while it runs.

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "Simulator.h"

namespace kestrum_sim {

struct CommandLine {
  enum class Endpoint { Pty, Device };
  Endpoint endpoint = Endpoint::Pty;
  std::string device;  // --device PATH
  std::string link;    // --link PATH (pty only)
  Simulator::Options simulator;
  bool verbose = false;
  bool help = false;
  bool version = false;
};

struct ParsedCommandLine {
  std::optional<CommandLine> commandLine;  // empty on error
  std::string error;                       // one line, without the program name
};

// `arguments` without the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The full --help text.
std::string HelpText();

// One line typed on standard input while the module runs.
struct ConsoleReply {
  std::string output;  // text for standard output (ends with a newline when not empty)
  bool quit = false;
};
ConsoleReply RunConsoleCommand(const std::string& line, Simulator& simulator,
                               std::atomic<bool>& verbose);

}  // namespace kestrum_sim
