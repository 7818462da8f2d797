#pragma once
// Setting up the module's end of the line with termios: raw mode, the baud rate and the
// character format.

#include "LineSettings.h"

namespace kestrum_sim {

// Raw mode (no echo, no line editing, no translation, no flow control), the baud rate and the
// character format. Throws std::system_error when the device refuses.
void ConfigureLine(int fd, const LineSettings& line);

}  // namespace kestrum_sim
