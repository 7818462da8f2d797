#pragma once
// The comm event and error bits a terminal's lines give, and what its modem lines say between two
// looks at them (TIOCMGET line bits; a pseudo-terminal has none, so the rule is tested here on
// made-up samples). The driver's counters, where a backend has them, give the same bits
// (DriverCounters.h).

#include <cstdint>

namespace xcom {

// The Windows comm event bits this layer reports.
inline constexpr std::uint32_t EV_RXCHAR = 0x0001, EV_RXFLAG = 0x0002, EV_CTS = 0x0008,
                               EV_DSR = 0x0010, EV_RLSD = 0x0020, EV_BREAK = 0x0040,
                               EV_ERR = 0x0080, EV_RING = 0x0100, EV_RX80FULL = 0x0400;
inline constexpr std::uint32_t kLineEvents =
    EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_BREAK | EV_ERR;
// ClearCommError's error bits.
inline constexpr std::uint32_t CE_RXOVER = 0x0001, CE_OVERRUN = 0x0002, CE_RXPARITY = 0x0004,
                               CE_FRAME = 0x0008, CE_BREAK = 0x0010;

// Events from two TIOCMGET samples, for drivers without counters: CTS, DSR and carrier when
// they changed either way, ring only when it came on.
std::uint32_t EventsFromModemLines(int was, int now);

}  // namespace xcom
