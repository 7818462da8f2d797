// The read time-out rules on made-up times: no device, no clock.
#include <gtest/gtest.h>

#include "ReadTimeouts.h"

namespace xcom {
namespace {

using std::chrono::milliseconds;
constexpr DWORD kMax = 0xFFFFFFFF;

COMMTIMEOUTS Read(DWORD interval, DWORD multiplier, DWORD constant) {
  return COMMTIMEOUTS{interval, multiplier, constant, 0, 0};
}

TEST(ReadTimeouts, ReturnAtOnceOnlyForIntervalMaxWithBothTotalsZero) {
  EXPECT_TRUE(ReadTimeouts(Read(kMax, 0, 0), 10).Finished(0));
  EXPECT_FALSE(ReadTimeouts(Read(kMax, 0, 1), 10).Finished(0));
  EXPECT_FALSE(ReadTimeouts(Read(kMax, 1, 0), 10).Finished(0));
  EXPECT_FALSE(ReadTimeouts(Read(kMax - 1, 0, 0), 10).Finished(0));
}

TEST(ReadTimeouts, WaitForTheFirstByteUpToTheConstantOnly) {
  const ReadTimeouts first(Read(kMax, kMax, 300), 10);
  EXPECT_FALSE(first.Finished(0));
  EXPECT_TRUE(first.Finished(1));
  EXPECT_EQ(first.NextWaitMs(0, milliseconds(100), milliseconds(0)), 200)
      << "the constant alone, not multiplier x count";
  EXPECT_EQ(first.NextWaitMs(0, milliseconds(300), milliseconds(0)), 0);
  // A constant of 0 or MAXDWORD is not this combination: one byte does not end the read.
  EXPECT_FALSE(ReadTimeouts(Read(kMax, kMax, 0), 10).Finished(1));
  EXPECT_FALSE(ReadTimeouts(Read(kMax, kMax, kMax), 10).Finished(1));
}

TEST(ReadTimeouts, TotalIsMultiplierTimesCountPlusConstantRoundedUp) {
  const ReadTimeouts total(Read(0, 10, 200), 10);
  EXPECT_EQ(total.NextWaitMs(0, milliseconds(0), milliseconds(0)), 300);
  EXPECT_EQ(total.NextWaitMs(5, std::chrono::microseconds(299500), milliseconds(0)), 1);
  EXPECT_EQ(total.NextWaitMs(5, milliseconds(300), milliseconds(0)), 0);
  EXPECT_EQ(total.NextWaitMs(5, milliseconds(400), milliseconds(0)), 0);
  EXPECT_FALSE(total.Finished(9));
  EXPECT_TRUE(total.Finished(10));
}

TEST(ReadTimeouts, IntervalCountsOnlyOnceBytesCameAndTheShorterLimitWins) {
  const ReadTimeouts interval(Read(50, 0, 0), 10);
  EXPECT_EQ(interval.NextWaitMs(0, milliseconds(1000), milliseconds(1000)), -1);
  EXPECT_EQ(interval.NextWaitMs(1, milliseconds(1000), milliseconds(20)), 30);
  EXPECT_EQ(interval.NextWaitMs(1, milliseconds(1000), milliseconds(50)), 0);
  const ReadTimeouts both(Read(50, 0, 100), 10);
  EXPECT_EQ(both.NextWaitMs(1, milliseconds(90), milliseconds(0)), 10);
  EXPECT_EQ(both.NextWaitMs(1, milliseconds(10), milliseconds(30)), 20);
  // MAXDWORD with non-zero totals is no interval limit.
  EXPECT_EQ(ReadTimeouts(Read(kMax, 0, 100), 10).NextWaitMs(1, milliseconds(0), milliseconds(99)),
            100);
}

TEST(ReadTimeouts, AllZeroWaitsWithoutLimitAndHugeTotalsDoNotOverflow) {
  EXPECT_EQ(ReadTimeouts(Read(0, 0, 0), 10).NextWaitMs(3, milliseconds(9999), milliseconds(9999)),
            -1);
  EXPECT_EQ(ReadTimeouts(Read(0, kMax, kMax), kMax).NextWaitMs(0, milliseconds(0), milliseconds(0)),
            0x7FFFFFFF);
}

}  // namespace
}  // namespace xcom
