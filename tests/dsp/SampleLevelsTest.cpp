#include "dsp/SampleLevels.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

// Random blocks of every length up to a few vectors and beyond, with values
// piled up at the edges of the range where the comparisons turn: the vector
// kernels count what the plain loops count.
TEST(SampleLevels, VectorKernelsMatchThePlainOnes)
{
    std::mt19937 rng(5);
    const int16_t edges[] = {-32768, -32767, -32513, -32512, -32511, -1, 0, 1, 32511, 32512, 32767};
    for (int trial = 0; trial < 300; ++trial) {
        const size_t n = trial < 40 ? size_t(trial) : size_t(rng() % 5000);
        std::vector<int16_t> iq(2 * n);
        for (int16_t& v : iq)
            v = rng() % 3 == 0 ? edges[rng() % 11] : int16_t(rng());
        const int16_t level = trial % 3 == 0 ? 32512 : trial % 3 == 1 ? 1 : int16_t(1 + rng() % 32767);
        ASSERT_EQ(clippedSamples_sse41(iq.data(), n, level), clippedSamples_ref(iq.data(), n, level))
            << "length " << n << " level " << level;
        ASSERT_EQ(sumOfSquares16_sse41(iq.data(), 2 * n), sumOfSquares16_ref(iq.data(), 2 * n)) << n;
        ASSERT_EQ(sumOfSquares16_sse41(iq.data(), n), sumOfSquares16_ref(iq.data(), n)) << n;
    }
}

TEST(SampleLevels, FullScaleEitherWayCountsOncePerSample)
{
    // (−32768, −32768) squared in a pair is 2^31, one past the signed range.
    const std::vector<int16_t> iq = {-32768, -32768, 32767, 0, 0, -32512, 100, 200, -32768, 32767,
                                     0, 0, 32511, -32511, 32512, 5};
    EXPECT_EQ(clippedSamples_sse41(iq.data(), 8, 32512), 5u);
    EXPECT_EQ(clippedSamples_ref(iq.data(), 8, 32512), 5u);
    EXPECT_EQ(sumOfSquares16_sse41(iq.data(), 2), 2ull * 32768 * 32768);
    std::vector<int16_t> loud(1 << 16, -32768);
    EXPECT_EQ(sumOfSquares16_sse41(loud.data(), loud.size()), uint64_t(1) << 46);
    EXPECT_EQ(clippedSamples_sse41(loud.data(), loud.size() / 2, 32767), loud.size() / 2);
}
