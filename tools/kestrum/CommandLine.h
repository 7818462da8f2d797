#pragma once
// The command line of kestrum: global options, one command and its arguments.

#include <string>
#include <vector>

#include "Invocation.h"

namespace kestrum {

struct ParsedCommandLine {
  enum class Action { Run, Help, Version, UsageError };
  Action action = Action::Run;
  Invocation invocation;
  std::string error;  // for UsageError: what is wrong, in one line
};

// `arguments` without the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The text of --help (the man page follows it).
std::string HelpText();

}  // namespace kestrum
