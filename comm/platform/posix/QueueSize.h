#pragma once
// The size the device counts a driver queue against: the one SetupComm gave, else 4096 (the
// same before SetupComm for input and output).

#include <cstdint>

namespace xcom {

// `given` is the SetupComm size; 0 means none was given.
inline constexpr std::uint32_t QueueSizeCounted(std::uint32_t given) {
  return given != 0 ? given : 4096;
}

}  // namespace xcom
