#include "demod/PlSignalling.h"
#include "tx/Modcod.h"
#include "tx/PlFramer.h"

#include <gtest/gtest.h>

#include <cmath>

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

// The quasi-error-free Es/N0 of each MODCOD: in the row of its name (a
// shifted row would pass a plain lookup), rising with the code rate within
// each constellation, none for dummy frames and reserved codes.
TEST(PlSignalling, QuasiErrorFreePointsRiseWithTheRateWithinEachConstellation)
{
    EXPECT_DOUBLE_EQ(s2ModcodRow(1).qefEsN0Db, -2.35);   // QPSK 1/4
    EXPECT_DOUBLE_EQ(s2ModcodRow(4).qefEsN0Db, 1.00);    // QPSK 1/2
    EXPECT_DOUBLE_EQ(s2ModcodRow(13).qefEsN0Db, 6.62);   // 8PSK 2/3
    EXPECT_DOUBLE_EQ(s2ModcodRow(28).qefEsN0Db, 16.05);  // 32APSK 9/10
    for (int modcod : {0, 29, 30, 31})
        EXPECT_TRUE(std::isnan(s2ModcodRow(modcod).qefEsN0Db)) << modcod;
    for (int modcod = 2; modcod <= 28; ++modcod) {
        const ModcodRow& row = s2ModcodRow(modcod);
        const ModcodRow& before = s2ModcodRow(modcod - 1);
        if (row.constellationIndex == before.constellationIndex) {
            EXPECT_GT(row.qefEsN0Db, before.qefEsN0Db) << row.name;
        }
    }
}
