#pragma once
// What the driver's counters (TIOCGICOUNT) say about the line between two looks at them: the comm
// events (deCTS, deDSR, deRLSD, deRing, deBreak, deError) and ClearCommError's error word. A
// pseudo-terminal has no counters, so these rules are tested on made-up samples.

#include <linux/serial.h>

#include <cstdint>

namespace xcom {

// Events from two counter samples: a line whose change counter moved, a break, a line error.
std::uint32_t EventsFromCounters(const serial_icounter_struct& was,
                                 const serial_icounter_struct& now);

// The error word from two counter samples: which of the error counters moved.
std::uint32_t ErrorsFromCounters(const serial_icounter_struct& was,
                                 const serial_icounter_struct& now);

}  // namespace xcom
