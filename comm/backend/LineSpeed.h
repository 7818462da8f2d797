#pragma once
// The line's rate on Linux, by its speed code where it has one (so that programs using plain
// termios see it) and through termios2's BOTHER for any other rate. Kept apart from <termios.h>:
// <asm/termbits.h> cannot meet it in one source file.

#include <cstdint>

namespace xcom {

// Sets the rate of the terminal `fd` (input at the output rate), nothing else. False, with
// errno, when the device refuses.
bool SetLineSpeed(int fd, std::uint32_t baud);

// The output rate the terminal `fd` runs at. False, with errno, when it cannot be read.
bool GetLineSpeed(int fd, std::uint32_t& baud);

}  // namespace xcom
