#include "DvbsAlignmentRig.h"

#include <gtest/gtest.h>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// From every wrong start (four channel turns × every depuncturing phase) at
// every rate, the search settles on the combination that decodes, and the
// packets then come out in order. A short patience keeps the test quick: the
// right combination may be passed over when its sync is not caught in time,
// and is then found on a later round.
TEST(DvbsAlignmentSearch, FindsTheAlignmentFromEveryStartAtEveryRate)
{
    constexpr uint64_t kPatience = 16 * 1632;
    uint64_t bitsToSettle[ViterbiDecoder::kRateCount] = {};
    for (int rate = 0; rate < ViterbiDecoder::kRateCount; ++rate) {
        const int period = ViterbiDecoder::periodOfRate(rate);
        for (int turns = 0; turns < 4; ++turns) {
            for (int stray = 0; stray < period; ++stray) {
                CaptureStdout();
                DvbsAlignmentRig rig(rate, turns, stray, kPatience);
                const uint64_t budget = 8ull * 4 * uint64_t(period) * kPatience;
                const uint64_t bits = rig.runUntilSettled(budget);
                const bool inOrder = rig.search().settled() && rig.deliversInOrder(60);
                GetCapturedStdout();
                bitsToSettle[rate] += bits;
                ASSERT_TRUE(rig.search().settled())
                    << "rate " << rate << ", " << turns << " turns, " << stray << " stray: " << bits << " bits";
                EXPECT_TRUE(inOrder) << "rate " << rate << ", " << turns << " turns, " << stray << " stray";
                EXPECT_EQ(rig.outer().syncState(), DvbS1OuterDecoder::Locked);
            }
        }
        RecordProperty("meanBitsToSettleRate" + std::to_string(rate),
                       std::to_string(bitsToSettle[rate] / uint64_t(4 * period)));
    }
}

// Off (the default) it touches nothing; a change of period restarts its wait;
// it steps through every phase before the next quarter turn.
TEST(DvbsAlignmentSearch, StepsInOrderOnlyWhenEnabled)
{
    std::vector<int> derotations;
    int skips = 0;
    DvbsAlignmentSearch search({[&](int v) { derotations.push_back(v); }, [&]() { ++skips; }}, 1000);
    EXPECT_FALSE(search.enabled());
    search.observe(100000, 4, {0, 0, 0});
    EXPECT_EQ(skips, 0);
    EXPECT_EQ(search.steps(), 0u);

    search.setEnabled(true);
    CaptureStdout();
    search.observe(999, 4, {0, 0, 0});
    EXPECT_EQ(skips, 0);
    search.observe(1, 4, {1, 2, 0});
    EXPECT_EQ(skips, 1) << "one confirmation is what noise gives now and then";
    EXPECT_EQ(search.skippedValues(), 1);
    for (int k = 0; k < 3; ++k)
        search.observe(1000, 4, {0, 0, 0});
    EXPECT_EQ(skips, 4);
    EXPECT_EQ(derotations, std::vector<int>{64}) << "a whole period of skips, then a quarter turn";
    EXPECT_EQ(search.skippedValues(), 0);
    // Another period: its wait starts again.
    search.observe(999, 6, {0, 0, 0});
    search.observe(999, 6, {0, 0, 0});
    EXPECT_EQ(skips, 5);
    // Sync found: the wait starts again, with time to finish locking.
    constexpr uint64_t locking = DvbsAlignmentSearch::kLockingBits;
    search.observe(999, 6, {2, 8, 0});
    search.observe(999 + locking, 6, {2, 8, 0});
    EXPECT_EQ(skips, 5);
    search.observe(1, 6, {2, 8, 0});
    EXPECT_EQ(skips, 6);
    // A lock carried over from before the step does not count; a fresh one
    // does, however long it holds.
    search.observe(100, 6, {3, 8, 40});
    EXPECT_FALSE(search.settled());
    search.observe(100, 6, {1, 1, 0});
    for (int k = 0; k < 50; ++k)
        search.observe(1000, 6, {3, 8, DvbsAlignmentSearch::kLastingLockPackets});
    EXPECT_TRUE(search.settled());
    EXPECT_EQ(skips, 6);
    // Nor does a short one (an inverted stream holds one a few packets).
    search.observe(1000 + locking, 6, {3, 8, 3});
    EXPECT_FALSE(search.settled());
    EXPECT_EQ(skips, 7);
    // Three sync bytes in a row while confirming earn the extra time too.
    DvbsAlignmentSearch second({[](int) {}, [&]() { ++skips; }}, 1000);
    second.setEnabled(true);
    const int before = skips;
    second.observe(999, 2, {1, 3, 0});
    second.observe(999 + locking, 2, {1, 5, 0});
    EXPECT_EQ(skips, before);
    second.observe(1, 2, {1, 6, 0});
    EXPECT_EQ(skips, before + 1);
    const std::string log = GetCapturedStdout();
    EXPECT_NE(log.find("DVB-S alignment: derotate 64, skip 0\n"), std::string::npos) << log;
}
