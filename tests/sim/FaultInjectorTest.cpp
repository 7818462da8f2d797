// The seeded faults: each does what it says, nothing when off, the same again with the same seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <set>
#include <string>

#include "FaultInjector.h"
#include "SimTestSupport.h"

using namespace modbus;  // the protocol layer

namespace {

using kestrum_sim::FaultInjector;
using kestrum_sim::FaultOptions;
using kestrum_sim::FaultPlan;
using std::chrono::milliseconds;

const xcom::ByteString kReply = simtest::TwoRegisterReply(100, 1, 0);

xcom::ByteString Joined(const FaultPlan& plan) {
  xcom::ByteString all;
  for (const auto& chunk : plan.chunks)
    all.insert(all.end(), chunk.bytes.begin(), chunk.bytes.end());
  return all;
}

int BitsDifferent(const xcom::ByteString& a, const xcom::ByteString& b) {
  int bits = 0;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
    bits += std::popcount(static_cast<unsigned>(a[i] ^ b[i]));
  return bits;
}

TEST(Faults, AllOffSendsTheReplyAtOnceAndUntouched) {
  FaultInjector faults;
  for (int i = 0; i < 50; ++i) {
    const FaultPlan plan = faults.Plan(kReply);
    ASSERT_EQ(plan.chunks.size(), 1u);
    EXPECT_EQ(plan.chunks[0].after, milliseconds(0));
    EXPECT_EQ(plan.chunks[0].bytes, kReply);
    EXPECT_FALSE(plan.dropped || plan.corrupted || plan.split || plan.delayed);
    EXPECT_EQ(plan.junkBytes, 0u);
  }
}

TEST(Faults, DelayAndSplitScheduleTheTwoPartsOfTheReply) {
  FaultOptions options;
  options.delay = milliseconds(120);
  options.split = milliseconds(40);
  FaultInjector faults(options);
  for (int i = 0; i < 50; ++i) {
    const FaultPlan plan = faults.Plan(kReply);
    ASSERT_EQ(plan.chunks.size(), 2u);
    EXPECT_TRUE(plan.split && plan.delayed);
    EXPECT_EQ(plan.chunks[0].after, milliseconds(120));
    EXPECT_EQ(plan.chunks[1].after, milliseconds(160));
    EXPECT_FALSE(plan.chunks[0].bytes.empty());
    EXPECT_FALSE(plan.chunks[1].bytes.empty());
    EXPECT_EQ(Joined(plan), kReply);
  }
}

TEST(Faults, CorruptionFlipsExactlyOneBit) {
  FaultOptions options;
  options.corrupt = 1.0;
  FaultInjector faults(options);
  std::set<std::size_t> bytesHit;
  for (int i = 0; i < 200; ++i) {
    const FaultPlan plan = faults.Plan(kReply);
    const xcom::ByteString sent = Joined(plan);
    ASSERT_EQ(sent.size(), kReply.size());
    EXPECT_TRUE(plan.corrupted);
    EXPECT_EQ(BitsDifferent(sent, kReply), 1);
    EXPECT_FALSE(HasValidCrc(sent));
    for (std::size_t b = 0; b < sent.size(); ++b)
      if (sent[b] != kReply[b]) bytesHit.insert(b);
  }
  // The flipped bit is not always in the same place.
  EXPECT_GT(bytesHit.size(), 4u);
}

TEST(Faults, JunkComesBeforeTheIntactReply) {
  FaultOptions options;
  options.junk = 1.0;
  FaultInjector faults(options);
  for (int i = 0; i < 100; ++i) {
    const FaultPlan plan = faults.Plan(kReply);
    const xcom::ByteString sent = Joined(plan);
    ASSERT_GE(plan.junkBytes, 1u);
    ASSERT_LE(plan.junkBytes, 4u);
    ASSERT_EQ(sent.size(), kReply.size() + plan.junkBytes);
    EXPECT_EQ(xcom::ByteString(sent.end() - static_cast<std::ptrdiff_t>(kReply.size()), sent.end()),
              kReply);
  }
}

TEST(Faults, DropLeavesTheReplyOut) {
  FaultOptions options;
  options.drop = 1.0;
  options.corrupt = 1.0;
  FaultInjector faults(options);
  const FaultPlan plan = faults.Plan(kReply);
  EXPECT_TRUE(plan.dropped);
  EXPECT_TRUE(plan.chunks.empty());
}

TEST(Faults, FractionsAreRoughlyKeptAndTheSameSeedGivesTheSamePattern) {
  FaultOptions options;
  options.drop = 0.3;
  options.corrupt = 0.5;
  options.junk = 0.2;
  options.seed = 42;
  const auto pattern = [&](const FaultOptions& o) {
    FaultInjector faults(o);
    std::string text;
    for (int i = 0; i < 1000; ++i) {
      const FaultPlan plan = faults.Plan(kReply);
      text += plan.dropped     ? 'D'
              : plan.corrupted ? (plan.junkBytes ? 'B' : 'C')
                               : (plan.junkBytes ? 'J' : '.');
    }
    return text;
  };
  const std::string first = pattern(options);
  EXPECT_EQ(first, pattern(options));
  const auto count = [&](std::string_view letters) {
    return std::count_if(first.begin(), first.end(),
                         [&](char c) { return letters.find(c) != std::string_view::npos; });
  };
  // 1000 draws: generous bounds around 300 dropped, 350 corrupted, 140 with junk.
  EXPECT_NEAR(count("D"), 300, 90);
  EXPECT_NEAR(count("CB"), 350, 100);
  EXPECT_NEAR(count("JB"), 140, 70);
  options.seed = 43;
  EXPECT_NE(first, pattern(options));
}

TEST(Faults, ChangingOptionsKeepsTheGeneratorUnlessTheSeedChanges) {
  FaultOptions options;
  options.drop = 0.5;
  FaultInjector a(options);
  FaultInjector b(options);
  for (int i = 0; i < 10; ++i) {
    a.Plan(kReply);
    b.Plan(kReply);
  }
  options.delay = milliseconds(5);
  b.SetOptions(options);  // same seed: the sequence goes on where it was
  for (int i = 0; i < 50; ++i) EXPECT_EQ(a.Plan(kReply).dropped, b.Plan(kReply).dropped);
}

}  // namespace
