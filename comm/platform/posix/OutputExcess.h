#pragma once
// How long a writer waits for the line to send what its driver holds beyond the output size the
// caller counts against: the driver calls itself writable long before its queue has drained
// that far. A pure rule: the device asks the driver and does the waiting.

#include <cstdint>

#include "XComStructs.h"

namespace xcom {

// Milliseconds the line of `dcb` needs to send the bytes of `outgoing` beyond `outputSize`
// (rounded up, plus one), 0 when there are none. A rate of 0 counts as 9600 baud.
std::uint32_t OutputExcessWaitMs(std::uint32_t outgoing, std::uint32_t outputSize, const DCB& dcb);

// How long a close waits for the `outgoing` bytes its driver still holds: the time the line of
// `dcb` needs to send them plus a margin for the adapter, and never longer than `timeoutMs`. A
// line held up by flow control does not hold the close for the whole time-out.
std::uint32_t CloseDrainWaitMs(std::uint32_t outgoing, const DCB& dcb, std::uint32_t timeoutMs);

}  // namespace xcom
