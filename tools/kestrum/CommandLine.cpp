#include "kestrum/CommandLine.h"

#include "Commands.h"
#include "DeviceNode.h"
#include "SlaveAddress.h"

using namespace modbus;  // the protocol layer

namespace kestrum {
namespace {

void SetBaud(Invocation& run, const std::string& text) {
  const auto choice = BaudRateFromText(text);
  if (!choice)
    throw UsageError("unknown baud rate '" + text +
                     "' (300 ... 115200, 230400, 460800, 921600, 14400, 28800, 33600, 76800)");
  run.baud = *choice;
}

void SetFormat(Invocation& run, const std::string& text) {
  const std::u32string characters(text.begin(), text.end());
  const CharacterFormat format = CharacterFormatFromText(characters);
  if (!format.Complete() || text.size() != 3)
    throw UsageError("unknown format '" + text + "' (data bits 7 or 8, parity N, E or O, " +
                     "stop bits 1 or 2, e.g. 8N1)");
  run.dataBits = *format.dataBits;
  run.parity = *format.parity;
  run.stopBits = *format.stopBits;
}

void SetAddress(Invocation& run, const std::string& text) {
  const auto address = SlaveAddressFromText(text);
  if (!address) throw UsageError("--address takes a number (100, 0x64 or $64), not '" + text + "'");
  run.address = static_cast<std::uint8_t>(*address & 0xFF);
}

std::array<int, 2> InputPair(const std::string& text) {
  const auto comma = text.find(',');
  if (comma == std::string::npos)
    throw UsageError("--expect-di takes two values, e.g. 1,0, not '" + text + "'");
  return {
      static_cast<int>(NumberIn("--expect-di", std::string_view(text).substr(0, comma), 0, 65535)),
      static_cast<int>(
          NumberIn("--expect-di", std::string_view(text).substr(comma + 1), 0, 65535))};
}

// Applies one option that takes a value. False when `name` is no such option.
bool ApplyValueOption(Invocation& run, const std::string& name, const std::string& value) {
  if (name == "-p" || name == "--port") {
    if (value.empty()) throw UsageError("--port takes a device name");
    run.ports.push_back(value);
  } else if (name == "-b" || name == "--baud") {
    SetBaud(run, value);
  } else if (name == "-f" || name == "--format") {
    SetFormat(run, value);
  } else if (name == "-a" || name == "--address") {
    SetAddress(run, value);
  } else if (name == "-t" || name == "--timeout") {
    run.timeoutMs = NumberIn(name, value, 1, kMaxTimeoutMs);
  } else if (name == "-r" || name == "--retries") {
    run.retries = NumberIn(name, value, 0, 100);
  } else if (name == "--interval") {
    run.intervalMs = NumberIn(name, value, 0, 86400000);
  } else if (name == "--count") {
    run.count = NumberIn(name, value, 1, 4000000000u);
  } else if (name == "--expect-di") {
    run.expectedInputs = InputPair(value);
  } else {
    return false;
  }
  return true;
}

bool IsValueOption(const std::string& name) {
  static const char* const kNames[] = {
      "-p", "--port",    "-b", "--baud",    "-f",         "--format", "-a",         "--address",
      "-t", "--timeout", "-r", "--retries", "--interval", "--count",  "--expect-di"};
  for (const char* known : kNames)
    if (name == known) return true;
  return false;
}

const CommandEntry& CommandNamed(const std::string& word) {
  const CommandEntry* entry = EntryNamed(word);
  if (entry == nullptr) throw UsageError("unknown command '" + word + "' (" + CommandWords() + ")");
  return *entry;
}

// The command word and its positional arguments.
void ApplyCommand(Invocation& run, const std::vector<std::string>& words) {
  if (words.empty()) throw UsageError("no command given (" + CommandWords() + ")");
  const CommandEntry& entry = CommandNamed(words[0]);
  run.command = entry.word;
  const std::size_t wanted = 1 + entry.argumentCount;
  if (words.size() != wanted)
    throw UsageError(words.size() < wanted ? "'" + words[0] + "' needs more arguments"
                                           : "unexpected argument '" + words[wanted] + "'");
  if (entry.takeArguments != nullptr) entry.takeArguments(run, std::span(words).subspan(1));
}

// Two threads on one device would each take the other's replies (and the second open fails
// or not by timing alone), so a device named twice, under any two names, is refused.
void RefuseRepeatedPorts(const std::vector<std::string>& ports) {
  std::vector<std::optional<xcom::DeviceNode>> nodes;
  for (const std::string& port : ports) nodes.push_back(xcom::FindDeviceNode(port));
  for (std::size_t i = 0; i < ports.size(); ++i)
    for (std::size_t j = 0; j < i; ++j) {
      if (ports[i] == ports[j]) throw UsageError("port '" + ports[i] + "' is given twice");
      if (nodes[i] && nodes[j] && nodes[i]->SameNodeAs(*nodes[j]))
        throw UsageError("ports '" + ports[j] + "' and '" + ports[i] + "' are the same device");
    }
}

// Options that belong to one command only.
void CheckCommandOptions(const Invocation& run, bool sawWatchOption) {
  if (sawWatchOption && run.command != "watch")
    throw UsageError("--interval and --count belong to watch");
  if (run.expectedInputs && run.command != "check")
    throw UsageError("--expect-di belongs to check");
  if (run.ports.empty()) throw UsageError("no port given (-p NAME)");
  RefuseRepeatedPorts(run.ports);
  // 0 is the broadcast every module obeys and none answers; 248 to 255 are reserved.
  if (EntryOf(run.command).asksTheModule && (run.address == 0 || run.address > 247))
    throw UsageError("slave address " + std::to_string(run.address) +
                     " (the low 8 bits of --address) gets no reply: give 1 to 247");
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  ParsedCommandLine parsed;
  Invocation& run = parsed.invocation;
  std::vector<std::string> words;
  bool sawWatchOption = false;
  try {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      std::string name = arguments[i];
      if (name == "--help" || name == "-h") return {ParsedCommandLine::Action::Help, run, {}};
      if (name == "--version") return {ParsedCommandLine::Action::Version, run, {}};
      if (name.size() < 2 || name[0] != '-') {
        words.push_back(name);
        continue;
      }
      std::optional<std::string> value;
      if (const auto equals = name.find('='); name.starts_with("--") && equals != name.npos) {
        value = name.substr(equals + 1);
        name.resize(equals);
      }
      if (IsValueOption(name)) {
        if (!value && i + 1 == arguments.size()) throw UsageError(name + " needs a value");
        ApplyValueOption(run, name, value ? *value : arguments[++i]);
        sawWatchOption = sawWatchOption || name == "--interval" || name == "--count";
      } else if (!value && (name == "--json" || name == "-v" || name == "--verbose" ||
                            name == "-q" || name == "--quiet")) {
        if (name == "--json") run.json = true;
        if (name == "-v" || name == "--verbose") run.verbose = true;
        if (name == "-q" || name == "--quiet") run.quiet = true;
      } else {
        throw UsageError("unknown option '" + arguments[i] + "'");
      }
    }
    ApplyCommand(run, words);
    CheckCommandOptions(run, sawWatchOption);
  } catch (const UsageError& error) {
    parsed.action = ParsedCommandLine::Action::UsageError;
    parsed.error = error.what();
  }
  return parsed;
}

}  // namespace kestrum
