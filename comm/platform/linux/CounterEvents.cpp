#include "CounterEvents.h"

#include <span>

#include "LineEvents.h"

namespace xcom {

namespace {

// A counter of the driver and the flag it raises when it moved.
struct CounterFlag {
  int serial_icounter_struct::*counter;
  std::uint32_t flag;
};

constexpr CounterFlag kEventCounters[] = {
    {&serial_icounter_struct::cts, EV_CTS},   {&serial_icounter_struct::dsr, EV_DSR},
    {&serial_icounter_struct::dcd, EV_RLSD},  {&serial_icounter_struct::rng, EV_RING},
    {&serial_icounter_struct::brk, EV_BREAK},
};

constexpr CounterFlag kErrorCounters[] = {
    {&serial_icounter_struct::buf_overrun, CE_RXOVER},
    {&serial_icounter_struct::overrun, CE_OVERRUN},
    {&serial_icounter_struct::parity, CE_RXPARITY},
    {&serial_icounter_struct::frame, CE_FRAME},
    {&serial_icounter_struct::brk, CE_BREAK},
};

std::uint32_t FlagsOfMoved(std::span<const CounterFlag> counters, const serial_icounter_struct& was,
                           const serial_icounter_struct& now) {
  std::uint32_t flags = 0;
  for (const CounterFlag& c : counters)
    if (now.*c.counter != was.*c.counter) flags |= c.flag;
  return flags;
}

}  // namespace

std::uint32_t EventsFromCounters(const serial_icounter_struct& was,
                                 const serial_icounter_struct& now) {
  std::uint32_t events = FlagsOfMoved(kEventCounters, was, now);
  // A line error is any counted error but a break, which has its own event.
  if ((ErrorsFromCounters(was, now) & ~std::uint32_t{CE_BREAK}) != 0) events |= EV_ERR;
  return events;
}

std::uint32_t ErrorsFromCounters(const serial_icounter_struct& was,
                                 const serial_icounter_struct& now) {
  return FlagsOfMoved(kErrorCounters, was, now);
}

}  // namespace xcom
