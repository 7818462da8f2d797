#pragma once
// One result line of a command on one port: what was read or done, and how it went.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ExitCode.h"

namespace kestrum {

struct Result {
  std::string command;  // read, relay, watch, mode, check
  std::string step;     // what the line is about: "relay 1 on", "mode control", a check step
  std::vector<std::pair<std::string, unsigned>> values;  // e.g. DI1=1, in order
  std::optional<bool> pass;                              // check steps only
  std::optional<double> roundTripMs;  // from the first request sent to the last reply taken
  std::string error;                  // empty when none
  ExitCode code = ExitCode::Success;
};

}  // namespace kestrum
