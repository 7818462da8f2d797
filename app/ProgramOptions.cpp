#include "ProgramOptions.h"

#include <string_view>

#include "ProjectVersion.h"

namespace {

constexpr int kUsageError = 2;

using TextOption = std::optional<std::string> TProgramOptions::*;

struct TValueOption {
  std::string_view name;
  TextOption field;
};

constexpr TValueOption kValueOptions[] = {
    {"--port", &TProgramOptions::port},        {"--baud", &TProgramOptions::baud},
    {"--format", &TProgramOptions::format},    {"--address", &TProgramOptions::address},
    {"--log-file", &TProgramOptions::logFile},
};

TCommandLine Exit(std::string output, bool isError, int code) {
  TCommandLine line;
  line.action = TCommandLine::Action::Exit;
  line.output = std::move(output);
  line.outputIsError = isError;
  line.exitCode = code;
  return line;
}

TCommandLine Mistake(const std::string& message) {
  return Exit("rtutest: " + message + "\n" + UsageText(), true, kUsageError);
}

const TValueOption* FindValueOption(std::string_view name) {
  for (const TValueOption& option : kValueOptions)
    if (option.name == name) return &option;
  return nullptr;
}

}  // namespace

std::string UsageText() {
  return "Usage: rtutest [OPTION]...\n"
         "Bench-test tool for the KESTRUM remote I/O module (Modbus RTU over a serial line).\n"
         "\n"
         "  --port NAME       put NAME into the port box (default COM1); a server as\n"
         "                    tcp://HOST:PORT or rfc2217://HOST:PORT\n"
         "  --baud TEXT       put TEXT into the baud-rate box (default 9600)\n"
         "  --format TEXT     put TEXT into the format box (default 8N1)\n"
         "  --address TEXT    put TEXT into the slave-address box and apply it (default 100)\n"
         "  --open            click \"打开串口\" (open the port) once the window is shown\n"
         "  --log-file PATH   append every line of the log pane to PATH as it is shown\n"
         "  --help            print this help and exit\n"
         "  --version         print the version and exit\n";
}

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  TCommandLine line;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help") return Exit(UsageText(), false, 0);
    if (argument == "--version")
      return Exit("rtutest " + std::string(kProjectVersion) + "\n", false, 0);
    if (argument == "--open") {
      line.options.open = true;
      continue;
    }
    if (argument.starts_with("--open=")) return Mistake("option '--open' takes no value");
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const TValueOption* option = argument.starts_with("--") ? FindValueOption(name) : nullptr;
    if (option == nullptr) {
      if (!argument.starts_with("-")) return Mistake("unexpected argument '" + argument + "'");
      return Mistake("unknown option '" + name + "'");
    }
    if (equals != std::string::npos) {
      line.options.*(option->field) = argument.substr(equals + 1);
    } else if (i + 1 < arguments.size()) {
      line.options.*(option->field) = arguments[++i];
    } else {
      return Mistake("option '" + name + "' needs a value");
    }
  }
  return line;
}
