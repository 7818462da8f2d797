// Line events from made-up modem-line samples (a pseudo-terminal has no lines).
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include "LineEvents.h"

namespace xcom {
namespace {

TEST(LineEvents, ModemLinesReportChangesEitherWayAndRingOnlyWhenItComesOn) {
  const int idle = TIOCM_DTR | TIOCM_RTS;
  EXPECT_EQ(EventsFromModemLines(idle, idle), 0u);
  EXPECT_EQ(EventsFromModemLines(idle, idle | TIOCM_CTS), EV_CTS);
  EXPECT_EQ(EventsFromModemLines(idle | TIOCM_CTS, idle), EV_CTS);
  EXPECT_EQ(EventsFromModemLines(idle | TIOCM_DSR, idle), EV_DSR);
  EXPECT_EQ(EventsFromModemLines(idle, idle | TIOCM_CD), EV_RLSD);
  EXPECT_EQ(EventsFromModemLines(idle, idle | TIOCM_RI), EV_RING);
  EXPECT_EQ(EventsFromModemLines(idle | TIOCM_RI, idle), 0u);
  EXPECT_EQ(EventsFromModemLines(idle, 0), 0u) << "our own outputs are no events";
  EXPECT_EQ(EventsFromModemLines(0, TIOCM_CTS | TIOCM_DSR | TIOCM_CD), EV_CTS | EV_DSR | EV_RLSD);
}

}  // namespace
}  // namespace xcom
