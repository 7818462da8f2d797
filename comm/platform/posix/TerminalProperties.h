#pragma once
// What GetCommProperties answers for a terminal: a serial RS-232 port that takes any rate, 5 to 8
// data bits, 1 or 2 stop bits, every parity, both handshakes and every time-out.

#include <cstdint>

#include "XComStructs.h"

namespace xcom {

// Fills the whole block, with the queue sizes given to SetupComm (0 before it).
void DescribeTerminal(COMMPROP& properties, std::uint32_t inQueue, std::uint32_t outQueue);

}  // namespace xcom
