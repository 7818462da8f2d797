#include "CounterEvents.h"

#include "LineEvents.h"

namespace xcom {

std::uint32_t EventsFromCounters(const serial_icounter_struct& was,
                                 const serial_icounter_struct& now) {
  std::uint32_t events = 0;
  if (now.cts != was.cts) events |= EV_CTS;
  if (now.dsr != was.dsr) events |= EV_DSR;
  if (now.dcd != was.dcd) events |= EV_RLSD;
  if (now.rng != was.rng) events |= EV_RING;
  if (now.brk != was.brk) events |= EV_BREAK;
  // A line error is any counted error but a break, which has its own event.
  if ((ErrorsFromCounters(was, now) & ~std::uint32_t{CE_BREAK}) != 0) events |= EV_ERR;
  return events;
}

std::uint32_t ErrorsFromCounters(const serial_icounter_struct& was,
                                 const serial_icounter_struct& now) {
  std::uint32_t errors = 0;
  if (now.buf_overrun != was.buf_overrun) errors |= CE_RXOVER;
  if (now.overrun != was.overrun) errors |= CE_OVERRUN;
  if (now.parity != was.parity) errors |= CE_RXPARITY;
  if (now.frame != was.frame) errors |= CE_FRAME;
  if (now.brk != was.brk) errors |= CE_BREAK;
  return errors;
}

}  // namespace xcom
