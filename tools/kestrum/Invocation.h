#pragma once
// What one run of kestrum is asked to do, as its command line says it; and the error of a
// command line that cannot say it, which the options and each command's arguments raise.

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "LineSettingText.h"

namespace kestrum {

// The longest time-out a reply may be given: a minute keeps every run bounded.
inline constexpr unsigned kMaxTimeoutMs = 60000;

struct Invocation {
  std::string command = "read";  // the word of its entry in Commands.cpp
  std::vector<std::string> ports;
  modbus::BaudRateChoice baud;  // 9600
  int dataBits = 8;
  modbus::FormatParity parity = modbus::FormatParity::None;
  int stopBits = 1;
  std::uint8_t address = 100;  // low 8 bits of what was given
  unsigned timeoutMs = 500;    // per reply, at most kMaxTimeoutMs
  unsigned retries = 2;
  bool json = false;
  bool verbose = false;
  bool quiet = false;
  // relay N on|off
  int relay = 1;
  bool relayOn = false;
  // watch
  unsigned intervalMs = 2000;
  std::optional<unsigned> count;  // until interrupted
  // mode
  int mode = 0;  // control mode
  // check
  std::optional<std::array<int, 2>> expectedInputs;
};

// A command line that cannot run; the message names what is wrong, in one line.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// `text` as a number from `low` to `high`, given to `option`; a UsageError otherwise.
unsigned NumberIn(const std::string& option, std::string_view text, unsigned low, unsigned high);

}  // namespace kestrum
