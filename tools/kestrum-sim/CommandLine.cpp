#include "kestrum-sim/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <sstream>

namespace kestrum_sim {

namespace {

std::optional<unsigned long long> ParseUnsigned(std::string_view text, unsigned long long max) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  unsigned long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value > max)
    return std::nullopt;
  return value;
}

std::optional<double> ParseFraction(const std::string& text) {
  try {
    std::size_t used = 0;
    const double value = std::stod(text, &used);
    if (used != text.size() || !(value >= 0.0 && value <= 1.0)) return std::nullopt;
    return value;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// 1 to 247: address 0 is the broadcast address, no module's own.
std::optional<std::uint8_t> ParseModuleAddress(std::string_view text) {
  const auto address = ParseUnsigned(text, 247);
  if (!address || *address == 0) return std::nullopt;
  return static_cast<std::uint8_t>(*address);
}

// "1,0": both inputs.
std::optional<std::array<std::uint16_t, kInputCount>> ParseInputPair(std::string_view text) {
  const auto comma = text.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  const auto first = ParseUnsigned(text.substr(0, comma), 0xFFFF);
  const auto second = ParseUnsigned(text.substr(comma + 1), 0xFFFF);
  if (!first || !second) return std::nullopt;
  return std::array<std::uint16_t, kInputCount>{static_cast<std::uint16_t>(*first),
                                                static_cast<std::uint16_t>(*second)};
}

std::string Hex4(unsigned value) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "%04X", value & 0xFFFF);
  return text.data();
}

std::string StateText(const Simulator& simulator) {
  const ModuleState state = simulator.State();
  const Counters c = simulator.GetCounters();
  std::ostringstream out;
  out << "address " << static_cast<unsigned>(state.address) << ", "
      << (state.mode == DeviceMode::Control ? "control mode" : "data-centre mode") << "\n";
  out << "inputs:";
  for (int i = 0; i < kInputCount; ++i)
    out << "  0x" << Hex4(modbus::kInputBlockRegister + i) << " DI" << i + 1 << "="
        << state.inputs[i];
  out << "\nrelays:";
  for (int i = 0; i < kRelayCount; ++i)
    out << "  0x" << Hex4(modbus::kOutputBlockRegister + i) << " relay" << i + 1 << "="
        << state.relays[i];
  out << "\nreceived " << c.bytesReceived << " bytes: " << c.requests << " requests ("
      << c.otherAddress << " for another address, " << c.broadcasts << " broadcasts), "
      << c.modeFrames << " mode frames (" << c.badModeFrames << " bad), " << c.discardedBlocks
      << " discarded blocks (" << c.discardedBytes << " bytes), " << c.freeTextBlocks
      << " free-text blocks\n";
  out << "replies sent " << c.repliesSent << " (" << c.exceptionsSent << " exceptions)"
      << "; faults: delayed " << c.repliesDelayed << ", split " << c.repliesSplit << ", corrupted "
      << c.repliesCorrupted << ", dropped " << c.repliesDropped << ", junk " << c.junkBursts
      << "; hang-ups " << c.hangups << "\n";
  return out.str();
}

constexpr const char* kConsoleHelp =
    "commands:\n"
    "  di N V          set input N (1 = DI1 at 0x0010, 2 = DI2 at 0x0011) to V (0..65535 or 0x..)\n"
    "  di A,B          set both inputs\n"
    "  show            registers, mode and counters\n"
    "  line            rate and format the line runs at (a pty: as its other end set them)\n"
    "  verbose on|off  show every request and reply on standard error, or stop\n"
    "  quit            end the simulator (also exit, q, Ctrl-C; the end of input does not)\n";

// What applying one option's value answers: an error text, or nothing.
using OptionError = std::optional<std::string>;

// A word an option takes and the setting it stands for.
template <typename Value>
struct Choice {
  std::string_view text;
  Value value;
};

constexpr Choice<ModeReply> kModeReplies[] = {{"none", ModeReply::None}, {"echo", ModeReply::Echo}};
constexpr Choice<DataCentreModbus> kDataCentreModes[] = {{"answer", DataCentreModbus::Answer},
                                                         {"ignore", DataCentreModbus::Ignore}};

// Sets `field` to the choice named `value`; refuses any other word, listing the choices.
template <typename Value, std::size_t N>
OptionError SetChoice(std::string_view option, const std::string& value,
                      const Choice<Value> (&choices)[N], Value& field) {
  std::string names;
  for (const Choice<Value>& choice : choices) {
    if (choice.text == value) {
      field = choice.value;
      return std::nullopt;
    }
    names += (names.empty() ? "" : " or ") + std::string(choice.text);
  }
  return "bad " + std::string(option) + " '" + value + "' (" + names + ")";
}

// Sets `field` to what the value parsed to; refuses a value that did not parse with `error`.
template <typename Parsed, typename Field>
OptionError SetParsed(const std::optional<Parsed>& parsed, const std::string& error, Field& field) {
  if (!parsed) return error;
  field = *parsed;
  return std::nullopt;
}

OptionError SetMilliseconds(std::string_view option, const std::string& value,
                            std::chrono::milliseconds& field) {
  const auto ms = ParseUnsigned(value, 60000);
  return SetParsed(
      ms ? std::optional(std::chrono::milliseconds(*ms)) : std::nullopt,
      "bad time '" + value + "' for " + std::string(option) + " (milliseconds, 0 to 60000)", field);
}

// "600,1600,0": one delay per reply in turn.
OptionError SetLatencies(std::string_view option, const std::string& value,
                         std::vector<std::chrono::milliseconds>& field) {
  std::vector<std::chrono::milliseconds> latencies;
  for (std::size_t at = 0; at <= value.size();) {
    const std::size_t comma = std::min(value.find(',', at), value.size());
    std::chrono::milliseconds one{};
    if (auto error = SetMilliseconds(option, value.substr(at, comma - at), one)) return error;
    latencies.push_back(one);
    at = comma + 1;
  }
  field = std::move(latencies);
  return std::nullopt;
}

OptionError SetFraction(std::string_view option, const std::string& value, double& field) {
  return SetParsed(ParseFraction(value),
                   "bad fraction '" + value + "' for " + std::string(option) + " (0 to 1)", field);
}

// An option that takes a value, and what that value does to the command line.
struct ValueOption {
  std::string_view name;
  OptionError (*apply)(std::string_view option, const std::string& value, CommandLine& c);
};

constexpr ValueOption kValueOptions[] = {
    {"--device",
     [](auto, const auto& value, auto& c) -> OptionError {
       if (value.empty()) return "--device needs a path";
       c.endpoint = CommandLine::Endpoint::Device;
       c.device = value;
       return std::nullopt;
     }},
    {"--link",
     [](auto, const auto& value, auto& c) -> OptionError {
       if (value.empty()) return "--link needs a path";
       c.link = value;
       return std::nullopt;
     }},
    {"--baud",
     [](auto, const auto& value, auto& c) {
       return SetParsed(ParseBaud(value), "bad baud rate '" + value + "' (50 to 4000000)",
                        c.simulator.line.baud);
     }},
    {"--format",
     [](auto, const auto& value, auto& c) {
       return SetParsed(ParseFormat(value, c.simulator.line),
                        "bad character format '" + value +
                            "' (8N1, 8E1, 8O1, 7N1, 7E1, 7O1, 8N2, 8E2, 8O2, 7N2, 7E2, 7O2)",
                        c.simulator.line);
     }},
    {"--address",
     [](auto, const auto& value, auto& c) {
       return SetParsed(ParseModuleAddress(value), "bad slave address '" + value + "' (1 to 247)",
                        c.simulator.module.address);
     }},
    {"--di",
     [](auto, const auto& value, auto& c) {
       return SetParsed(ParseInputPair(value), "bad inputs '" + value + "' (two values like 1,0)",
                        c.simulator.module.inputs);
     }},
    {"--mode-reply",
     [](auto option, const auto& value, auto& c) {
       return SetChoice(option, value, kModeReplies, c.simulator.module.modeReply);
     }},
    {"--data-centre",
     [](auto option, const auto& value, auto& c) {
       return SetChoice(option, value, kDataCentreModes, c.simulator.module.dataCentreModbus);
     }},
    {"--delay", [](auto option, const auto& value,
                   auto& c) { return SetMilliseconds(option, value, c.simulator.faults.delay); }},
    {"--split", [](auto option, const auto& value,
                   auto& c) { return SetMilliseconds(option, value, c.simulator.faults.split); }},
    {"--latency", [](auto option, const auto& value,
                     auto& c) { return SetLatencies(option, value, c.simulator.faults.latency); }},
    {"--answer-every",
     [](auto, const auto& value, auto& c) {
       const auto every = ParseUnsigned(value, 1000);
       return SetParsed(every && *every > 0 ? std::optional(unsigned(*every)) : std::nullopt,
                        "bad count '" + value + "' for --answer-every (1 to 1000)",
                        c.simulator.faults.answerEvery);
     }},
    {"--mute", [](auto option, const auto& value,
                  auto& c) { return SetMilliseconds(option, value, c.simulator.faults.mute); }},
    {"--silence",
     [](auto option, const auto& value, auto& c) -> OptionError {
       std::chrono::milliseconds silence{};
       if (auto error = SetMilliseconds(option, value, silence)) return error;
       if (silence.count() == 0) return "--silence must be at least 1 ms";
       c.simulator.silence = silence;
       return std::nullopt;
     }},
    {"--corrupt", [](auto option, const auto& value,
                     auto& c) { return SetFraction(option, value, c.simulator.faults.corrupt); }},
    {"--drop", [](auto option, const auto& value,
                  auto& c) { return SetFraction(option, value, c.simulator.faults.drop); }},
    {"--junk", [](auto option, const auto& value,
                  auto& c) { return SetFraction(option, value, c.simulator.faults.junk); }},
    {"--seed",
     [](auto, const auto& value, auto& c) {
       return SetParsed(ParseUnsigned(value, ~0ULL), "bad seed '" + value + "'",
                        c.simulator.faults.seed);
     }},
};

const ValueOption* FindValueOption(std::string_view name) {
  const auto found =
      std::find_if(std::begin(kValueOptions), std::end(kValueOptions),
                   [name](const ValueOption& option) { return option.name == name; });
  return found == std::end(kValueOptions) ? nullptr : found;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine result;
  bool ptyGiven = false;
  // The options without a value, each with the setting it turns on.
  const std::pair<std::string_view, bool*> flags[] = {
      {"--help", &result.help},       {"-h", &result.help},    {"--version", &result.version},
      {"--verbose", &result.verbose}, {"-v", &result.verbose}, {"--pty", &ptyGiven}};
  const auto fail = [](const std::string& why) { return ParsedCommandLine{std::nullopt, why}; };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string option = arguments[i];
    std::optional<std::string> inlineValue;
    if (const auto equals = option.find('=');
        option.rfind("--", 0) == 0 && equals != std::string::npos) {
      inlineValue = option.substr(equals + 1);
      option.resize(equals);
    }
    if (const ValueOption* valueOption = FindValueOption(option)) {
      if (!inlineValue && i + 1 >= arguments.size())
        return fail("option " + option + " needs a value");
      const std::string value = inlineValue ? *inlineValue : arguments[++i];
      if (auto error = valueOption->apply(option, value, result)) return fail(*error);
      continue;
    }
    const auto flag = std::find_if(std::begin(flags), std::end(flags),
                                   [&option](const auto& f) { return f.first == option; });
    if (flag == std::end(flags)) return fail("unknown option '" + arguments[i] + "'");
    if (inlineValue) return fail("option " + option + " takes no value");
    *flag->second = true;
  }
  if (result.help || result.version) return {result, {}};
  if (ptyGiven && result.endpoint == CommandLine::Endpoint::Device)
    return {std::nullopt, "--pty and --device exclude each other"};
  if (!result.link.empty() && result.endpoint == CommandLine::Endpoint::Device)
    return {std::nullopt, "--link works only with --pty"};
  return {result, {}};
}

ConsoleReply RunConsoleCommand(const std::string& line, Simulator& simulator,
                               std::atomic<bool>& verbose) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  if (words.empty()) return {};
  const std::string& command = words[0];
  if (command == "quit" || command == "exit" || command == "q") return {"", true};
  if (command == "help" || command == "?") return {kConsoleHelp, false};
  if (command == "show" || command == "s") return {StateText(simulator), false};
  if (command == "verbose" && words.size() == 2 && (words[1] == "on" || words[1] == "off")) {
    verbose = words[1] == "on";
    return {std::string("verbose ") + (verbose ? "on" : "off") + "\n", false};
  }
  if (command == "di" && words.size() == 2) {
    const auto inputs = ParseInputPair(words[1]);
    if (!inputs) return {"di: expected two values like 1,0\n", false};
    simulator.SetInput(1, (*inputs)[0]);
    simulator.SetInput(2, (*inputs)[1]);
    return {"DI1=" + std::to_string((*inputs)[0]) + " DI2=" + std::to_string((*inputs)[1]) + "\n",
            false};
  }
  if (command == "di" && words.size() == 3) {
    const auto channel = ParseUnsigned(words[1], kInputCount);
    const auto value = ParseUnsigned(words[2], 0xFFFF);
    if (!channel || *channel == 0) return {"di: the input is 1 or 2\n", false};
    if (!value) return {"di: the value is 0 to 65535\n", false};
    simulator.SetInput(static_cast<int>(*channel), static_cast<std::uint16_t>(*value));
    return {"DI" + std::to_string(*channel) + "=" + std::to_string(*value) + "\n", false};
  }
  return {"unknown command '" + line + "'; type 'help'\n", false};
}

std::string HelpText() {
  return R"(Usage: kestrum-sim [options]

A simulated KESTRUM module (two digital inputs, four relays) that answers Modbus RTU on a
serial line, so that the test tool can be used and tested without the real module.

Where it listens:
  --pty             (default) create a pseudo-terminal; the first line on standard output is
                    the device path the tool must open (e.g. /dev/pts/3)
  --link PATH       with --pty: also make a symbolic link PATH to that device (replaces only a
                    left-over link, dangling or to a pseudo-terminal, that no running
                    simulator claims; removed again at the end)
  --device PATH     attach to an existing serial device instead, e.g. a USB-RS485 adapter
                    (/dev/ttyUSB0) or one end of a socat pair; the first line on standard
                    output is PATH. Only a serial line is taken (checked before it is opened);
                    it is locked with flock while the module runs.
  --baud N          baud rate, default 9600 (the tool offers 300 600 1200 2400 4800 9600
                    14400 19200 28800 38400 57600 115200 230400 460800 921600)
  --format F        character format, default 8N1; one of 8N1 8E1 8O1 7N1 7E1 7O1 8N2 8E2
                    8O2 7N2 7E2 7O2 (data bits, parity, stop bits). On a pseudo-terminal the
                    line settings only set the end-of-frame silence; a real line needs the same
                    settings on both sides.
  --silence MS      end-of-frame silence in milliseconds; default 3.5 character times at the
                    line's settings (1.75 ms above 19200 baud), never below 2 ms. Raise it
                    (e.g. 20) when a USB adapter delivers frames in pieces.

What it emulates:
  --address N       Modbus slave address, 1 to 247, default 100
  --di A,B          initial values of the inputs DI1 and DI2, default 0,0 (0 to 65535 each)
  Holding registers: 0x0010 DI1, 0x0011 DI2 (read only); 0x0014 to 0x0017 relays 1 to 4
  (read/write, 0 = off, 1 = on, all off at start). 0x0012 and 0x0013 do not exist.
  Function 03 reads any range of existing registers (the reply to 64 03 00 10 00 02 CC 3B with
  inputs 1,0 is 64 03 04 00 01 00 00 9E F5); function 06 writes one relay and echoes the
  request; function 16 writes relays and answers address, 10, start, count, CRC.
  Exception replies (function + 0x80, code): 01 unknown function; 02 a range outside the
  registers or a write to an input; 03 a register count of 0 or above the Modbus limit, a byte
  count that does not fit, a relay value other than 0 or 1.
  No answer to a frame with a bad CRC or for another address. Address 0 is a broadcast:
  writes are carried out, nothing is answered.
  Requests end at the length their function code implies, or at the end-of-frame silence;
  stray bytes before a valid frame are skipped, a partial frame followed by silence is dropped.

Mode frames AA 55 00 05 E0 50 0m 01 cs (cs = low byte of the sum of the first eight bytes):
  m = 0 selects control mode, m = 1 data-centre mode. A wrong check sum or mode number is
  reported and ignored. The switch is reported on standard error.
  --mode-reply R    what the module answers to a valid mode frame: none (default) or echo
                    (the frame itself)
  --data-centre D   Modbus in data-centre mode: answer (default: every command of the tool
                    works in both modes) or ignore (such requests are shown as free text)
  In data-centre mode every block that is no Modbus request is reported on standard error as
  free text, in hex and as text.

Faults, for tests and demos (all off by default; drawn from one generator):
  --delay MS        wait MS milliseconds before every reply
  --split MS        send every reply in two parts, cut at a random byte, MS milliseconds apart
  --corrupt P       flip one random bit in a fraction P (0 to 1) of the replies
  --drop P          leave out a fraction P of the replies
  --junk P          send 1 to 4 random stray bytes before a fraction P of the replies
  --seed N          seed of the fault generator, default 1: the same seed and the same
                    requests give the same faults
Latency schedule (replies always leave in the order their requests came):
  --latency L       the delay of each reply in turn, in milliseconds (600,1600,0 is a slow
                    start and one spike); --delay holds for the replies after the list
  --answer-every N  answer only every Nth request (2: every other one)
  --mute MS         answer nothing until MS milliseconds after the first request (a module
                    switched on late)

Output:
  --verbose, -v     print every request, reply, discarded block and injected fault with a
                    time stamp (HH:MM:SS.mmm) as hex on standard error
  --help, -h        show this text
  --version         print the program's version

Commands on standard input while it runs:
  di N V            set input N (1 or 2) to V, e.g. "di 1 0"
  di A,B            set both inputs, e.g. "di 1,0"
  show              registers, mode and counters
  verbose on|off    switch the traffic log on or off
  line              rate and format the line runs at (a pty: as its other end set them)
  quit              end (so do SIGINT, SIGTERM and SIGHUP; the end of standard input does not)

Exit status: 0 after quit or a signal, 1 when the line cannot be opened or fails, 2 for a bad
command line.
)";
}

}  // namespace kestrum_sim
