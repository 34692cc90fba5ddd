#include "dsp/BasebandMixer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace {

std::vector<int16_t> repeated(int16_t i, int16_t q, size_t count)
{
    std::vector<int16_t> v;
    for (size_t k = 0; k < count; ++k) {
        v.push_back(i);
        v.push_back(q);
    }
    return v;
}

} // namespace

TEST(BasebandMixer, DcIsRemovedWithItsTimeConstant)
{
    BasebandMixer mixer;
    std::vector<int16_t> iq = repeated(1000, -500, 65536 * 6);
    mixer.process(iq.data(), iq.size() / 2);
    EXPECT_EQ(iq[0], 1000) << "the first sample passes unchanged";
    EXPECT_EQ(iq[1], -500);
    // After one time constant about 1/e of the offset is left.
    EXPECT_NEAR(iq[2 * 65536], 1000 / M_E, 15);
    EXPECT_NEAR(iq[2 * 65536 + 1], -500 / M_E, 10);
    EXPECT_LE(std::abs(iq[iq.size() - 2]), 5);
    EXPECT_LE(std::abs(iq[iq.size() - 1]), 5);
}

TEST(BasebandMixer, QuarterCycleStepsUseTheTableQuadrants)
{
    BasebandMixer mixer;
    mixer.phaseIncrement = 0.25;
    std::vector<int16_t> iq = repeated(1000, 200, 4);
    mixer.process(iq.data(), 4);
    // (I + jQ)·e^(−j2πp) for p = 0, 1/4, 1/2, 3/4; the DC estimate is still
    // below one unit.
    EXPECT_EQ(iq, std::vector<int16_t>({1000, 200, 200, -1000, -1000, -200, -200, 1000}));
    EXPECT_DOUBLE_EQ(mixer.phase, 0.0);

    // Whole cycles per sample turn nothing, however many.
    for (double whole : {1.0, -3.0, 1e10}) {
        BasebandMixer far;
        far.phaseIncrement = 0.25 + whole;
        std::vector<int16_t> same = repeated(1000, 200, 4);
        far.process(same.data(), 4);
        EXPECT_EQ(same, iq) << whole;
        EXPECT_DOUBLE_EQ(far.phase, 0.0) << whole;
    }
}

TEST(BasebandMixer, NegativeStepsWrapTheTableIndex)
{
    BasebandMixer mixer;
    mixer.phaseIncrement = -0.1;
    std::vector<int16_t> iq = repeated(10000, 0, 6);
    mixer.process(iq.data(), 6);
    // Phase −0.1·k: the output is the input turned by +2π·0.1·k (the table
    // is coarse, so compare with the table's own angles).
    for (int k = 0; k < 6; ++k) {
        const double p = -0.1 * k;
        const int sinIndex = uint8_t(int32_t(256.0 * p));
        const double angle = 2 * M_PI * sinIndex / 256.0;
        EXPECT_NEAR(iq[2 * k], 10000 * std::cos(angle), 2) << k;
        EXPECT_NEAR(iq[2 * k + 1], -10000 * std::sin(angle), 2) << k;
    }
    EXPECT_NEAR(mixer.phase, -0.6 + 0.0, 1e-12);
}

TEST(BasebandMixer, OverflowSaturatesAndEmptyInputIsLeftAlone)
{
    BasebandMixer mixer;
    mixer.phaseIncrement = 0.125;
    mixer.phase = 0.125;
    std::vector<int16_t> iq = {32767, 32767};
    mixer.process(iq.data(), 1);
    // 32767·(cos + sin)(π/4) = 46339: held at the top of the range, as is
    // the DC estimate's share of it.
    EXPECT_EQ(iq[0], 32767);
    EXPECT_EQ(iq[1], 0);
    EXPECT_EQ(mixer.dcAccI, 32767);

    mixer.process(nullptr, 0);
    EXPECT_DOUBLE_EQ(mixer.phase, 0.25);
}

TEST(BasebandMixer, FullScaleLessANegativeDcEstimateStaysPositive)
{
    // Full-scale samples against a DC estimate of the other sign: a wrap
    // would turn +32767 into −32768, a half-turn of the constellation.
    BasebandMixer mixer;
    mixer.dcAccI = -65536 * 3;   // estimate −3
    mixer.dcAccQ = 65536 * 3;    // estimate +3
    std::vector<int16_t> iq = {32767, -32768, 32767, -32768};
    mixer.process(iq.data(), 2);
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(iq[2 * k], 32767) << k;
        EXPECT_EQ(iq[2 * k + 1], -32768) << k;
    }
}

TEST(BasebandMixer, ShiftsAToneToZeroFrequency)
{
    BasebandMixer mixer;
    const double f = 0.0371;   // cycles per sample
    mixer.phaseIncrement = f;
    const size_t n = 3000;   // short against the DC time constant
    std::vector<int16_t> iq(2 * n);
    for (size_t k = 0; k < n; ++k) {
        iq[2 * k] = int16_t(std::lround(8000 * std::cos(2 * M_PI * f * k + 0.3)));
        iq[2 * k + 1] = int16_t(std::lround(8000 * std::sin(2 * M_PI * f * k + 0.3)));
    }
    mixer.process(iq.data(), n);
    // A constant phasor remains: window means 256 samples apart keep their
    // angle (a residual of 1/25600 cycle per sample would turn them 0.06 rad).
    auto windowMean = [&iq](size_t start) {
        std::complex<double> sum = 0;
        for (size_t k = start; k < start + 256; ++k)
            sum += std::complex<double>(iq[2 * k], iq[2 * k + 1]);
        return sum / 256.0;
    };
    for (size_t start = 256; start + 512 <= n; start += 256) {
        const std::complex<double> a = windowMean(start), b = windowMean(start + 256);
        EXPECT_NEAR(std::arg(b / a), 0.0, 0.01) << start;
        EXPECT_NEAR(std::arg(a), 0.3, 0.03) << start;
        EXPECT_GT(std::abs(a), 7500) << start;
    }
}

// The four-wide kernel gives the plain one's samples and state to the bit:
// any step (negative, whole cycles, tiny), any phase and DC estimate, full-
// scale samples, and calls of any length (odd, and longer than its chunk).
TEST(BasebandMixer, VectorKernelMatchesThePlainOne)
{
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int trial = 0; trial < 40; ++trial) {
        BasebandMixer plain;
        const double steps[] = {unit(rng) * 0.5, unit(rng) * 1e-6, 0.0, 3.0 + unit(rng), -0.25, unit(rng) * 1e3};
        plain.phaseIncrement = steps[trial % 6];
        plain.phase = unit(rng) * 0.999;
        plain.dcAccI = int32_t(unit(rng) * 65536 * 3000);
        plain.dcAccQ = int32_t(unit(rng) * 65536 * 3000);
        BasebandMixer vector = plain;
        for (int call = 0; call < 4; ++call) {
            const size_t n = size_t(rng() % 700);
            std::vector<int16_t> a(2 * n);
            for (int16_t& v : a)
                v = int16_t(trial % 4 == 0 ? (rng() & 1 ? 32767 : -32768) : sample(rng));
            std::vector<int16_t> b = a;
            mix_ref(plain, a.data(), n);
            mix_sse41(vector, b.data(), n);
            ASSERT_EQ(a, b) << "trial " << trial << " call " << call;
            ASSERT_EQ(plain.phase, vector.phase);
            ASSERT_EQ(plain.dcAccI, vector.dcAccI);
            ASSERT_EQ(plain.dcAccQ, vector.dcAccQ);
        }
    }
}
