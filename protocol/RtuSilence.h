#pragma once
// The silence that ends a Modbus RTU frame: 3.5 character times, and a fixed 1750 microseconds
// above 19200 baud (character times there are shorter than a PC can time). The master and the
// simulated slave both wait for it; each rounds it to its own clock and adds its own floor.

#include <chrono>
#include <cstdint>
#include <ratio>

namespace modbus {

// Exact enough that rounding down or up to whole microseconds gives the same as rounding the
// exact quotient would, at every rate up to 19200 baud.
using Picoseconds = std::chrono::duration<std::uint64_t, std::pico>;

// The silence above 19200 baud, and the floor a master keeps below it.
inline constexpr std::chrono::microseconds kFixedInterFrameSilence{1750};

// The frame-ending silence at `baud` with characters of `bitsPerCharacter` bits (see
// xcom::BitsPerCharacter). A rate of 0 (unknown) gives the fixed value.
Picoseconds InterFrameSilence(std::uint32_t baud, unsigned bitsPerCharacter);

}  // namespace modbus
