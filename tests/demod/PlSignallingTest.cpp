#include "demod/PlSignalling.h"
#include "tx/Modcod.h"
#include "tx/PlFramer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

// All 128 PLS codes, encoded by the transmitter's direct Reed–Muller
// construction and scrambled, decode to themselves with up to 15 wrong bits.
TEST(PlsHeader, EveryCodeDecodesThroughFifteenBitErrors)
{
    std::mt19937_64 rng(99);
    for (int modcod = 0; modcod < 32; ++modcod) {
        for (int type = 0; type < 4; ++type) {
            const bool shortFrame = type & 1, pilots = type & 2;
            const uint64_t sent = tx::plsCodeword(tx::plsCode(modcod, shortFrame, pilots)) ^ kPlHeaderScrambling;
            const uint8_t expected = uint8_t(modcod | (shortFrame ? 0x20 : 0) | (pilots ? 0x40 : 0));
            ASSERT_EQ(decodePlsHeader(sent ^ kPlHeaderScrambling), expected);
            // The receiver's own encoder gives the same code word.
            ASSERT_EQ(encodePlsHeader(expected), sent ^ kPlHeaderScrambling) << int(expected);
            for (int errors = 1; errors <= 15; ++errors) {
                for (int trial = 0; trial < 40; ++trial) {
                    uint64_t pattern = 0;
                    while (__builtin_popcountll(pattern) < errors)
                        pattern |= uint64_t(1) << (rng() % 64);
                    ASSERT_EQ(decodePlsHeader((sent ^ pattern) ^ kPlHeaderScrambling), expected)
                        << "modcod " << modcod << " type " << type << " errors " << errors;
                }
            }
        }
    }
}

TEST(PlSignalling, ScramblingSequenceMatchesTheTransmitter)
{
    const std::vector<uint8_t> reference = tx::plScramblingSequence(0, kScramblingLength);
    const auto& sequence = plScramblingCode0();
    ASSERT_EQ(reference.size(), sequence.size());
    EXPECT_TRUE(std::equal(sequence.begin(), sequence.end(), reference.begin()));
}

// The frame-length table holds exactly the lengths real frames have, and the
// slot counts agree with the standard's.
TEST(PlSignalling, FrameLengthsAndSlotsAreThoseOfRealFrames)
{
    std::set<int> lengths;
    for (int modcod = 1; modcod <= 28; ++modcod) {
        for (tx::FrameSize size : {tx::FrameSize::Normal, tx::FrameSize::Short}) {
            const int index = s2ModcodRow(modcod).constellationIndex;
            const bool isShort = size == tx::FrameSize::Short;
            EXPECT_EQ(slotsPerFrame(index, isShort), tx::slotsPerFrame(modcod, size)) << modcod;
            for (bool pilots : {false, true})
                lengths.insert(tx::plframeSymbols(modcod, size, pilots));
        }
    }
    EXPECT_EQ(std::set<int>(kFrameLengths.begin(), kFrameLengths.end()), lengths);
    EXPECT_TRUE(std::is_sorted(kFrameLengths.begin(), kFrameLengths.end()));
    EXPECT_STREQ(s2ModcodRow(0).name, "DUMMY FRAME");
    EXPECT_STREQ(s2ModcodRow(12).name, "8PSK 3/5");
    EXPECT_STREQ(s2ModcodRow(31).name, "RESERVED (31)");
}
