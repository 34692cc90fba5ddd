// The symbol rates the receiver can run at a sample rate, and what becomes
// of one it cannot: brought into range and said, never run as it is.
#include "receiver/ProcessingChain.h"
#include "receiver/ReceiverSettings.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(SymbolRateLimit, TheSignalsBandFitsTheSampledBand)
{
    EXPECT_EQ(maxSymbolRate(2000000, 0, 0.35f), 1481481);   // ⌊2 MHz / 1.35⌋
    EXPECT_EQ(maxSymbolRate(2400000, 0, 0.2f), 2000000);
    EXPECT_EQ(maxSymbolRate(2000000, 1, 0.35f), 740740);    // the resampler sees 2 × 1 MHz
    // Below the sample rate even without roll-off: the resampler's step
    // would make a whole turn per input sample.
    EXPECT_EQ(maxSymbolRate(2000000, 0, 0.0f), 1999999);
    // Nonsense in, a rate that exists out.
    EXPECT_EQ(maxSymbolRate(0, 0, 0.35f), 0);
    EXPECT_EQ(maxSymbolRate(2000000, 99, 0.35f), maxSymbolRate(2000000, 7, 0.35f));
    EXPECT_EQ(maxSymbolRate(2000000, kAutoDecimation, 0.35f), 1481481) << "auto runs every rate none does";
    EXPECT_EQ(maxSymbolRate(uint64_t(1) << 62, 0, 0.35f), INT32_MAX);
    EXPECT_EQ(maxSymbolRate(2000000, 0, -5.0f), 1999999);
}

// Halved while four samples per symbol remain, so the matched filter sees
// 4 to 8; never beyond the deepest cascade.
TEST(SymbolRateLimit, TheAutomaticDecimationKeepsFourToEightSamplesPerSymbol)
{
    EXPECT_EQ(autoDecimation(2400000, 1000000), 0);
    EXPECT_EQ(autoDecimation(2400000, 500000), 0);   // 4.8
    EXPECT_EQ(autoDecimation(2400000, 300000), 1);   // 8 → 4
    EXPECT_EQ(autoDecimation(2400000, 33000), 4);    // 72.7 → 4.5
    EXPECT_EQ(autoDecimation(8000000, 125000), 4);   // 64 → 4
    EXPECT_EQ(autoDecimation(2400000, 1000), 7);
    EXPECT_EQ(autoDecimation(2400000, 0), 7);
    ReceiverSettings s;
    s.sampleRate = 2400000;
    s.symbolRate = 66000;
    EXPECT_EQ(s.decimation, kAutoDecimation);
    EXPECT_EQ(decimationFor(s), 3);
    EXPECT_DOUBLE_EQ(decimatedSampleRate(s), 300000.0);
    s.decimation = 1;
    EXPECT_EQ(decimationFor(s), 1);
    s.decimation = 12;
    EXPECT_EQ(decimationFor(s), 7);
}

TEST(SymbolRateLimit, ARateOutOfRangeIsBroughtInAndSaid)
{
    ReceiverSettings s;
    s.sampleRate = 2000000;
    EXPECT_EQ(limitSymbolRate(s), "") << "1 Msym/s at 2 Msps runs";
    EXPECT_EQ(s.symbolRate, 1000000);

    s.symbolRate = 8000000;
    EXPECT_EQ(limitSymbolRate(s), "Symbol rate 8000000 sym/s is above 1481481 sym/s, the highest the sample rate "
                                  "2000000 Hz carries at roll-off 0.35; using 1481481 sym/s");
    EXPECT_EQ(s.symbolRate, 1481481);
    EXPECT_EQ(limitSymbolRate(s), "") << "once in range it stays";

    s.decimation = 1;
    EXPECT_NE(limitSymbolRate(s).find("with decimation 1"), std::string::npos);
    EXPECT_EQ(s.symbolRate, 740740);

    s.decimation = 0;
    for (const int32_t nonsense : {0, -5, INT32_MIN}) {
        s.symbolRate = nonsense;
        EXPECT_EQ(limitSymbolRate(s), "Symbol rate " + std::to_string(nonsense) +
                                          " sym/s is below the lowest the receiver runs; using 1000 sym/s");
        EXPECT_EQ(s.symbolRate, kMinSymbolRate);
    }

    // No symbol rate fits: the lowest, said.
    s.sampleRate = 1000;
    s.symbolRate = 500000;
    EXPECT_NE(limitSymbolRate(s).find("The sample rate 1000 Hz is too low for any symbol rate"), std::string::npos);
    EXPECT_EQ(s.symbolRate, kMinSymbolRate);
}

// What the limit is for: a rate above it gives the resampler no step at all
// (no symbol, the status a "dummy frame"); the rate it is brought to runs.
TEST(SymbolRateLimit, TheLimitedRateGivesTheResamplerAStep)
{
    ProcessingChain chain;
    ReceiverSettings s;
    s.sampleRate = 2000000;
    s.symbolRate = 8000000;
    applySymbolRate(chain, s);
    EXPECT_EQ(chain.resampleWorker().nominalStep(), 0) << "unlimited: no symbols";
    limitSymbolRate(s);
    applySymbolRate(chain, s);
    const int64_t step = chain.resampleWorker().nominalStep();
    EXPECT_EQ(step, 2 * int64_t(std::floor(1481481.0 * 4294967296.0 / 4000000.0)));
    EXPECT_LT(step, int64_t(1) << 32);
}
