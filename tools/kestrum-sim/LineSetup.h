#pragma once
// Setting up the module's end of the line with termios: raw mode, the baud rate and the
// character format.

#include <optional>

#include "LineSettings.h"

namespace kestrum_sim {

// Raw mode (no echo, no line editing, no translation, no flow control), the baud rate and the
// character format. Throws std::system_error when the device refuses.
void ConfigureLine(int fd, const LineSettings& line);

// What the line runs at now, as set by whoever set it last: on a pseudo-terminal's master, the
// settings the program on the other end chose. Nothing when they cannot be read, or the format
// is none of the tool's.
std::optional<LineSettings> ReadLineSetup(int fd);

}  // namespace kestrum_sim
