// Line events and error bits from made-up driver counters (a pseudo-terminal has none).
#include <gtest/gtest.h>

#include "CounterEvents.h"
#include "LineEvents.h"

namespace xcom {
namespace {

struct CounterCase {
  int serial_icounter_struct::*field;
  std::uint32_t event;
  std::uint32_t error;
};

const CounterCase kCounters[] = {
    {&serial_icounter_struct::cts, EV_CTS, 0},
    {&serial_icounter_struct::dsr, EV_DSR, 0},
    {&serial_icounter_struct::dcd, EV_RLSD, 0},
    {&serial_icounter_struct::rng, EV_RING, 0},
    {&serial_icounter_struct::brk, EV_BREAK, CE_BREAK},
    {&serial_icounter_struct::frame, EV_ERR, CE_FRAME},
    {&serial_icounter_struct::overrun, EV_ERR, CE_OVERRUN},
    {&serial_icounter_struct::parity, EV_ERR, CE_RXPARITY},
    {&serial_icounter_struct::buf_overrun, EV_ERR, CE_RXOVER},
    {&serial_icounter_struct::rx, 0, 0},
    {&serial_icounter_struct::tx, 0, 0},
};

TEST(CounterEvents, EachCounterThatMovedGivesItsEventAndErrorBitAlone) {
  serial_icounter_struct was{};
  for (auto& c : kCounters) was.*c.field = 7;
  EXPECT_EQ(EventsFromCounters(was, was), 0u);
  EXPECT_EQ(ErrorsFromCounters(was, was), 0u);
  for (const auto& c : kCounters) {
    serial_icounter_struct now = was;
    now.*c.field = 8;
    EXPECT_EQ(EventsFromCounters(was, now), c.event) << c.event;
    EXPECT_EQ(ErrorsFromCounters(was, now), c.error) << c.error;
    now.*c.field = 6;  // a counter that wrapped or was reset moved too
    EXPECT_EQ(EventsFromCounters(was, now), c.event);
  }
}

}  // namespace
}  // namespace xcom
