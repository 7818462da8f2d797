// The held input's size, order, room, purge and 80 % mark, without a device.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "HeldInput.h"

namespace xcom {
namespace {

std::vector<std::uint8_t> Counting(std::size_t n, std::uint8_t from = 0) {
  std::vector<std::uint8_t> bytes(n);
  std::iota(bytes.begin(), bytes.end(), from);
  return bytes;
}

TEST(HeldInput, SizeFromSetupCommWithDefaultAndCap) {
  HeldInput held;
  EXPECT_EQ(held.QueueSize(), 4096u);
  EXPECT_EQ(held.Limit(), 4096u);
  held.SetQueueSize(100000);
  EXPECT_EQ(held.QueueSize(), 100000u) << "the mark counts against the size as given";
  EXPECT_EQ(held.Limit(), 65536u);
  held.SetQueueSize(0);
  EXPECT_EQ(held.QueueSize(), 4096u);
}

TEST(HeldInput, HandsBytesOverOldestFirstAcrossAppendsAndTakes) {
  HeldInput held;
  held.SetQueueSize(100);
  std::vector<std::uint8_t> got(100);
  std::uint32_t taken = 0;
  for (int round = 0; round < 5; ++round) {  // enough rounds to drop taken bytes from the front
    const auto chunk = Counting(30, std::uint8_t(round * 30));
    held.Append(chunk.data(), chunk.size());
    taken += held.Take(got.data() + taken % 100, 20);
  }
  EXPECT_EQ(held.Count(), 50u);
  EXPECT_EQ(held.Room(), 50u);
  std::vector<std::uint8_t> rest(60);
  EXPECT_EQ(held.Take(rest.data(), 60), 50u);
  EXPECT_EQ(rest[0], 100) << "after 100 bytes taken, the 101st comes next";
  EXPECT_EQ(rest[49], 149);
  EXPECT_EQ(held.Count(), 0u);
}

TEST(HeldInput, RoomIsZeroWhenFullOrWhenTheSizeShrankBelowWhatIsHeld) {
  HeldInput held;
  held.SetQueueSize(10);
  const auto bytes = Counting(10);
  held.Append(bytes.data(), 10);
  EXPECT_EQ(held.Room(), 0u);
  held.SetQueueSize(4);
  EXPECT_EQ(held.Room(), 0u);
  EXPECT_EQ(held.Count(), 10u) << "nothing held is lost";
}

TEST(HeldInput, MarkIsReportedOnReachingEightyPercentAndAgainAfterFallingBelow) {
  HeldInput held;
  held.SetQueueSize(100);
  EXPECT_FALSE(held.ReachedMark80(79));
  EXPECT_TRUE(held.ReachedMark80(80));
  EXPECT_FALSE(held.ReachedMark80(95)) << "still above: no second report";
  EXPECT_FALSE(held.ReachedMark80(79));
  EXPECT_TRUE(held.ReachedMark80(100));
}

TEST(HeldInput, PurgeDropsTheBytesAndForgetsTheMark) {
  HeldInput held;
  held.SetQueueSize(10);
  const auto bytes = Counting(9);
  held.Append(bytes.data(), 9);
  ASSERT_TRUE(held.ReachedMark80(9));
  held.Purge();
  EXPECT_EQ(held.Count(), 0u);
  EXPECT_EQ(held.Room(), 10u);
  EXPECT_TRUE(held.ReachedMark80(8)) << "after a purge, reaching the mark is news again";
  std::uint8_t out = 0xEE;
  EXPECT_EQ(held.Take(&out, 1), 0u);
}

}  // namespace
}  // namespace xcom
