#include "dsp/HalfBandDecimator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace {

// The plain filter: every tap (zeros too) over the whole signal from rest,
// in 64-bit sums, each odd-indexed output kept.
std::vector<int16_t> referenceHalve(const std::vector<int16_t>& iq)
{
    const auto& h = HalfBandDecimator::kCoefficients;
    const size_t n = iq.size() / 2;
    std::vector<int16_t> out;
    for (size_t k = 1; k < n; k += 2)
        for (int c = 0; c < 2; ++c) {
            int64_t acc = 0;
            for (int j = 0; j < HalfBandDecimator::kTaps; ++j)
                if (k >= size_t(j))
                    acc += int64_t(h[size_t(j)]) * iq[2 * (k - size_t(j)) + size_t(c)];
            const int64_t rounded = (acc + (1 << 14)) >> 15;
            out.push_back(int16_t(std::clamp<int64_t>(rounded, -32768, 32767)));
        }
    return out;
}

std::vector<int16_t> randomSamples(size_t count, std::mt19937& rng)
{
    std::uniform_int_distribution<int> any(-32768, 32767);
    std::vector<int16_t> iq(2 * count);
    for (int16_t& v : iq)
        v = int16_t(any(rng));
    return iq;
}

// Power of the decimated output of a complex tone at `cycles` per input
// sample, relative to the tone's, in dB (the start left out).
double toneGainDb(int exponent, double cycles)
{
    Decimator d;
    d.setExponent(exponent);
    const size_t n = size_t(4096) << exponent;
    std::vector<int16_t> iq(2 * n);
    const double amplitude = 16000.0;
    for (size_t k = 0; k < n; ++k) {
        iq[2 * k] = int16_t(std::lround(amplitude * std::cos(2 * M_PI * cycles * double(k))));
        iq[2 * k + 1] = int16_t(std::lround(amplitude * std::sin(2 * M_PI * cycles * double(k))));
    }
    const size_t m = d.process(iq.data(), n);
    double power = 0;
    for (size_t k = 512; k < m; ++k)
        power += double(iq[2 * k]) * iq[2 * k] + double(iq[2 * k + 1]) * iq[2 * k + 1];
    return 10 * std::log10(power / double(m - 512) / (amplitude * amplitude));
}

} // namespace

// Bit for bit the plain filter, whatever the sizes of the calls (the held
// samples join the blocks), saturating where the taps overshoot.
TEST(HalfBandDecimator, EqualsThePlainFilterAcrossCalls)
{
    std::mt19937 rng(7);
    std::vector<int16_t> iq = randomSamples(6000, rng);
    // Full-scale steps of alternating sign: the negative taps overshoot.
    for (size_t k = 0; k < 64; ++k)
        for (int c = 0; c < 2; ++c)
            iq[2 * (1000 + k) + size_t(c)] = (k / 8) % 2 ? 32767 : -32768;
    const std::vector<int16_t> expected = referenceHalve(iq);

    HalfBandDecimator stage;
    std::vector<int16_t> out;
    size_t at = 0;
    for (const size_t count : {2, 14, 16, 1000, 30, 2938, 2000}) {
        std::vector<int16_t> block(iq.begin() + long(2 * at), iq.begin() + long(2 * (at + count)));
        stage.process(block.data(), block.data(), count);
        out.insert(out.end(), block.begin(), block.begin() + long(count));
        at += count;
    }
    ASSERT_EQ(at, 6000u);
    EXPECT_EQ(out, expected);
    EXPECT_NE(std::count(out.begin(), out.end(), int16_t(32767)), 0) << "the overshoot reached the rails";

    stage.reset();
    std::vector<int16_t> again(iq.begin(), iq.begin() + 200);
    stage.process(again.data(), again.data(), 100);
    EXPECT_TRUE(std::equal(again.begin(), again.begin() + 100, expected.begin())) << "reset starts from rest";
}

// A cascade is its stages one after another, and says so in its sizes.
TEST(HalfBandDecimator, ACascadeIsItsStagesInTurn)
{
    std::mt19937 rng(11);
    const std::vector<int16_t> iq = randomSamples(4096, rng);
    std::vector<int16_t> expected = iq;
    for (int s = 0; s < 3; ++s)
        expected = referenceHalve(expected);

    Decimator d;
    d.setExponent(3);
    EXPECT_EQ(Decimator::delay(d.exponent()), 7 * 7);
    std::vector<int16_t> a(iq.begin(), iq.begin() + 4096), b(iq.begin() + 4096, iq.end());
    ASSERT_EQ(d.process(a.data(), 2048), 256u);
    ASSERT_EQ(d.process(b.data(), 2048), 256u);
    a.resize(512);
    a.insert(a.end(), b.begin(), b.begin() + 512);
    EXPECT_EQ(a, expected);

    d.setExponent(0);
    std::vector<int16_t> same = iq;
    EXPECT_EQ(d.process(same.data(), 4096), 4096u);
    EXPECT_EQ(same, iq);
    d.setExponent(99);
    EXPECT_EQ(d.exponent(), Decimator::kMaxExponent);
}

// The band the automatic choice keeps (±0.084 of the last stage's input
// rate) comes through flat; what would fold onto it is gone.
TEST(HalfBandDecimator, PassesTheKeptBandAndRejectsItsAliases)
{
    for (const int exponent : {1, 4}) {
        const double lastInput = std::ldexp(1.0, -(exponent - 1));   // the last stage's rate, per input sample
        SCOPED_TRACE(exponent);
        EXPECT_NEAR(toneGainDb(exponent, 0.0), 0.0, 0.01);
        EXPECT_NEAR(toneGainDb(exponent, 0.084 * lastInput), 0.0, 0.01);
        EXPECT_NEAR(toneGainDb(exponent, -0.084 * lastInput), 0.0, 0.01);
        EXPECT_LT(toneGainDb(exponent, (0.5 - 0.084) * lastInput), -70.0);
        EXPECT_LT(toneGainDb(exponent, (0.5 + 0.084) * lastInput), -70.0);
    }
}
