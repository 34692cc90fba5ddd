#include "demod/SoftDemapper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

using cf = std::complex<float>;

// Runs of any length, from any point of a frame to past its end, give the
// values one symbol at a time gives: QPSK on vectors (values at and beyond
// ±1, exact steps of 1/128, not-a-number), the others symbol by symbol.
TEST(SoftDemapper, RunsGiveWhatSymbolsOneAtATimeGive)
{
    std::mt19937 rng(21);
    std::normal_distribution<float> spread(0.0f, 0.8f);
    const float edges[] = {-1.0f, -0.9921875f, 0.9921875f, 1.0f, -1.5f, 2.0f, 0.0f, -0.0f, 1.0f / 128, -1.0f / 128,
                           std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()};
    // QPSK 1/2 normal and short, 8PSK 3/5 and 2/3, 16APSK 2/3.
    const uint8_t codes[] = {4, 4 | 0x20, 12, 13, 18};
    for (uint8_t code : codes) {
        SoftDemapper one, runs;
        one.start(code);
        runs.start(code);
        const size_t symbols = one.size() / 2 + 300;   // past the end of any of these frames
        std::vector<cf> s(symbols);
        for (cf& x : s)
            x = rng() % 4 == 0 ? cf(edges[rng() % 12], edges[rng() % 12]) : cf(spread(rng), spread(rng));
        for (size_t k = 0; k < symbols; ++k)
            one.demap(s[k]);
        for (size_t k = 0; k < symbols;) {
            const size_t n = std::min<size_t>(symbols - k, rng() % 3 == 0 ? rng() % 9 : rng() % 400);
            runs.demapRun(s.data() + k, n);
            k += n;
        }
        EXPECT_EQ(runs.complete(), one.complete()) << int(code);
        ASSERT_EQ(std::vector<int8_t>(runs.values(), runs.values() + runs.size()),
                  std::vector<int8_t>(one.values(), one.values() + one.size()))
            << int(code);
    }
}

TEST(SoftDemapper, QpskValuesAreTheComponentsTimes128TowardZero)
{
    SoftDemapper d;
    d.start(4);
    const std::vector<cf> s = {{0.5f, -0.25f}, {-0.99f, 1.2f}, {-3.0f, std::nanf("")}, {0.00390625f, -0.0078125f},
                               {0.5f, 0.5f}, {0.5f, 0.5f}, {0.5f, 0.5f}, {0.5f, 0.5f}};
    d.demapRun(s.data(), s.size());
    const std::vector<int8_t> expected = {-32, 64, 127, -126, -128, -128, -1, 0, 64, 64, 64, 64, 64, 64, 64, 64};
    EXPECT_EQ(std::vector<int8_t>(d.values(), d.values() + 16), expected);
}
