#include "DvbsAlignmentRig.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <random>
#include <string>
#include <vector>

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

namespace {

// Packets of random bytes with the sync bytes a transmitter sends (0xB8 at
// the start of every eighth, 0x47 at the others), starting `offset` bits
// into the first byte; `inverted`: every bit flipped, as a half turn gives;
// `syncEvery`: only every so many packets carry their sync byte.
std::vector<uint8_t> packetBits(int packets, int offset, bool inverted = false, int syncEvery = 1, uint32_t seed = 1)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> plain;
    for (int k = 0; k < packets; ++k) {
        plain.push_back(k % syncEvery != 0 ? uint8_t(0x12) : k % 8 == 0 ? uint8_t(0xB8) : uint8_t(0x47));
        for (int b = 1; b < 204; ++b) {
            uint8_t byte = uint8_t(rng());
            if (byte == 0x47 || byte == 0xB8)
                byte = 0;   // no stray sync patterns at byte positions
            plain.push_back(byte);
        }
    }
    std::vector<uint8_t> out((plain.size() * 8 + size_t(offset) + 7) / 8, 0);
    for (size_t bit = 0; bit < plain.size() * 8; ++bit) {
        const unsigned v = (plain[bit / 8] >> (7 - bit % 8)) & 1;
        const size_t at = bit + size_t(offset);
        out[at / 8] = uint8_t(out[at / 8] | (v << (7 - at % 8)));
    }
    if (inverted)
        for (uint8_t& b : out)
            b = uint8_t(~b);
    return out;
}

struct Recorder {
    std::vector<int> derotations;
    int skips = 0;
    int restarts = 0;
    int senseTurns = 0;
    std::vector<std::pair<int, int>> tried;   // derotation, skip
    DvbsAlignmentSearch::Actions actions()
    {
        return {[this](int v) { derotations.push_back(v); }, [this]() { ++skips; }, [this]() { ++restarts; },
                [this]() { ++senseTurns; }, [this](int d, int k) { tried.emplace_back(d, k); }};
    }
    bool hasTried(int derotation, int skip) const
    {
        return std::find(tried.begin(), tried.end(), std::make_pair(derotation, skip)) != tried.end();
    }
};

constexpr uint64_t kPatience = 8 * 1632;

} // namespace

// Off (the default) it touches nothing; noise is left after its patience,
// one phase at a time, with a quarter turn after a whole period, and every
// change sends the outer decoder hunting; a change of period starts the
// phases again.
TEST(DvbsAlignmentSearch, StepsThroughNoiseInOrderOnlyWhenEnabled)
{
    Recorder r;
    DvbsAlignmentSearch search(r.actions(), kPatience);
    const std::vector<uint8_t> block = testsupport::randomBytes(kPatience / 8, 5);
    EXPECT_FALSE(search.enabled());
    for (int k = 0; k < 3; ++k)
        search.observe(block.data(), block.size(), 4, {0, 0, 0});
    EXPECT_EQ(r.skips, 0);
    EXPECT_EQ(search.steps(), 0u);

    search.setEnabled(true);
    CaptureStdout();
    search.observe(block.data(), block.size(), 4, {0, 0, 0});   // the period is learnt
    EXPECT_EQ(r.skips, 0);
    search.observe(block.data(), block.size() - 1, 4, {0, 0, 0});
    EXPECT_EQ(r.skips, 0) << "judged only after its patience";
    search.observe(block.data(), 1, 4, {0, 0, 0});
    EXPECT_EQ(r.skips, 1);
    EXPECT_EQ(search.skippedValues(), 1);
    EXPECT_EQ(r.restarts, 1);
    for (int k = 0; k < 3; ++k)
        search.observe(block.data(), block.size(), 4, {0, 0, 0});
    EXPECT_EQ(r.skips, 4);
    EXPECT_EQ(r.derotations, std::vector<int>{64}) << "a whole period of skips, then a quarter turn";
    EXPECT_EQ(search.skippedValues(), 0);
    EXPECT_EQ(search.derotation(), 64);
    EXPECT_EQ(r.restarts, 4);
    // Another period: the phases start again.
    search.observe(block.data(), block.size(), 6, {0, 0, 0});
    EXPECT_EQ(r.skips, 4);
    search.observe(block.data(), block.size(), 6, {0, 0, 0});
    EXPECT_EQ(r.skips, 5);
    EXPECT_EQ(search.skippedValues(), 1);
    EXPECT_TRUE(GetCapturedStdout().empty()) << "the search itself says nothing";
    EXPECT_TRUE(r.hasTried(64, 0));
    EXPECT_TRUE(r.hasTried(64, 1));
    EXPECT_EQ(r.tried.size(), size_t(r.restarts)) << "every combination taken up is told";
}

// Every turn at every phase without sync: the spectrum may be mirrored,
// which no turn undoes; the sense is turned over and the turns start again.
TEST(DvbsAlignmentSearch, TurnsTheSenseOverAfterEveryTurnFailed)
{
    Recorder r;
    DvbsAlignmentSearch search(r.actions(), kPatience);
    search.setEnabled(true);
    const std::vector<uint8_t> block = testsupport::randomBytes(kPatience / 8, 7);
    CaptureStdout();
    search.observe(block.data(), block.size(), 2, {0, 0, 0});   // the period is learnt
    for (int k = 0; k < 4 * 2 - 1; ++k)
        search.observe(block.data(), block.size(), 2, {0, 0, 0});
    EXPECT_EQ(r.senseTurns, 0) << "three turns tried, the fourth at its last phase";
    search.observe(block.data(), block.size(), 2, {0, 0, 0});
    EXPECT_EQ(r.senseTurns, 1);
    EXPECT_EQ(r.derotations.back(), 0) << "back at the first turn";
    for (int k = 0; k < 4 * 2; ++k)
        search.observe(block.data(), block.size(), 2, {0, 0, 0});
    EXPECT_EQ(r.senseTurns, 2) << "and back again";
    GetCapturedStdout();
}

// Sync bytes at any bit offset keep the combination while the outer decoder
// hunts; the inverted stream is turned by a half at the same phase; sync
// bytes in fewer than half the packets, or at no common position, are noise.
TEST(DvbsAlignmentSearch, KeepsSyncTurnsTheInverseAndLeavesTooFewSyncBytes)
{
    for (int offset : {0, 3, 7}) {
        Recorder r;
        DvbsAlignmentSearch search(r.actions(), kPatience);
        search.setEnabled(true);
        const std::vector<uint8_t> bits = packetBits(40, offset);
        search.observe(bits.data(), 0, 2, {0, 0, 0});
        for (size_t at = 0; at + 1000 <= bits.size(); at += 1000)
            search.observe(bits.data() + at, 1000, 2, {0, 0, 0});
        EXPECT_EQ(search.steps(), 0u) << offset;
        EXPECT_TRUE(search.syncSeen()) << offset;
        EXPECT_EQ(r.restarts, 0) << offset;
    }
    {
        Recorder r;
        DvbsAlignmentSearch search(r.actions(), kPatience);
        search.setEnabled(true);
        search.observe(nullptr, 0, 6, {0, 0, 0});
        const std::vector<uint8_t> noiseFirst = testsupport::randomBytes(kPatience / 8, 9);
        search.observe(noiseFirst.data(), noiseFirst.size(), 6, {0, 0, 0});
        ASSERT_EQ(search.skippedValues(), 1);
        CaptureStdout();
        const std::vector<uint8_t> inverse = packetBits(9, 5, true);
        search.observe(inverse.data(), inverse.size(), 6, {1, 1, 0});
        GetCapturedStdout();
        EXPECT_EQ(r.derotations, std::vector<int>{128});
        EXPECT_EQ(search.skippedValues(), 1) << "same phase";
        EXPECT_EQ(r.skips, 1);
        EXPECT_EQ(r.restarts, 2);
        EXPECT_TRUE(r.hasTried(128, 1));
    }
    {
        Recorder r;
        DvbsAlignmentSearch search(r.actions(), kPatience);
        search.setEnabled(true);
        search.observe(nullptr, 0, 2, {0, 0, 0});
        CaptureStdout();
        const std::vector<uint8_t> sparse = packetBits(9, 0, false, 3);   // 3 sync bytes in 9 packets
        search.observe(sparse.data(), sparse.size(), 2, {0, 0, 0});
        GetCapturedStdout();
        EXPECT_EQ(r.skips, 1);
        EXPECT_FALSE(search.syncSeen());
    }
}

// A lasting lock settles the search; once lost, the combination is judged
// again and kept while its sync bytes are still there.
TEST(DvbsAlignmentSearch, SettlesOnALastingLockAndKeepsItThroughALoss)
{
    Recorder r;
    DvbsAlignmentSearch search(r.actions(), kPatience);
    search.setEnabled(true);
    const std::vector<uint8_t> bits = packetBits(60, 2);
    search.observe(nullptr, 0, 8, {0, 0, 0});
    const size_t third = bits.size() / 3;
    search.observe(bits.data(), third, 8, {3, 32, 3});
    EXPECT_FALSE(search.settled()) << "a short lock is what an inverted stream gives";
    search.observe(bits.data() + third, third, 8, {3, 32, DvbsAlignmentSearch::kLastingLockPackets});
    EXPECT_TRUE(search.settled());
    search.observe(bits.data() + 2 * third, bits.size() - 2 * third, 8, {0, 0, 0});
    EXPECT_FALSE(search.settled());
    const std::vector<uint8_t> more = packetBits(20, 2, false, 1, 7);
    search.observe(more.data(), more.size(), 8, {1, 2, 0});
    EXPECT_TRUE(search.syncSeen());
    EXPECT_EQ(search.steps(), 0u);
    EXPECT_EQ(r.restarts, 0);
    // Off: it forgets what it saw.
    search.setEnabled(false);
    search.observe(more.data(), more.size(), 8, {3, 32, 100});
    EXPECT_FALSE(search.settled());
    EXPECT_FALSE(search.syncSeen());
}
