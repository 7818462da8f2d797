#pragma once
// The command line of rtutest. It is read before the application object exists, so --help,
// --version and a wrong option need no display. Every option is optional: without any, the
// window starts with its designed defaults.

#include <optional>
#include <string>
#include <vector>

struct TProgramOptions {
  std::optional<std::string> port;     // text for the port box (Edit1)
  std::optional<std::string> baud;     // text for the baud-rate box (ComboBox1)
  std::optional<std::string> format;   // text for the format box (ComboBox6)
  std::optional<std::string> address;  // text for the slave-address box (edmodaddr)
  bool open = false;                   // click "打开串口" once the window is shown
  std::optional<std::string> logFile;  // append every log line to this file
};

// What the command line asks for: run the window with `options`, or print `output` (to
// standard output for --help/--version, to standard error for a mistake) and exit.
struct TCommandLine {
  enum class Action { Run, Exit } action = Action::Run;
  TProgramOptions options;
  std::string output;
  bool outputIsError = false;
  int exitCode = 0;
};

// Options take their value as the next argument or after '=' (--port=/dev/ttyUSB0); a later
// option overrides an earlier one. Anything else (an unknown option, a missing value, a
// positional argument) is a mistake: a one-line message, the usage, exit code 2.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

std::string UsageText();
