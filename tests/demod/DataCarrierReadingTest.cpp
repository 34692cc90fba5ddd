#include "demod/DataCarrierReading.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>

namespace {

using cf = std::complex<float>;

struct Frame {
    int steps = 8;
    double esn0Db = 8;
    int symbols = 5400;
    bool noiseOnly = false;
};

// A frame's data turning by `carrier` (1/256 cycle per symbol), derotated
// by an oscillator running at `oscillator` whose phase also wanders as a
// loop's would, and slips by a step of the constellation now and then.
bool read(const Frame& f, float carrier, float oscillator, uint32_t seed, float& reading)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> point(0, f.steps - 1);
    const double sigma = std::sqrt(0.5 / std::pow(10.0, f.esn0Db / 10));
    std::normal_distribution<double> noise(0, sigma), wander(0, 0.02);
    const double offset = f.steps == 4 ? M_PI / 4 : 0.0;
    DataCarrierReading data;
    data.start(f.steps, oscillator);
    double jitter = 0;
    for (int k = 0; k < f.symbols; ++k) {
        jitter = 0.9 * jitter + wander(rng);
        const double symbol = offset + 2 * M_PI * point(rng) / f.steps;
        std::complex<double> s = std::complex<double>(noise(rng), noise(rng));
        if (!f.noiseOnly)
            s += std::polar(1.0, symbol + 0.4 + 2 * M_PI * double(carrier) / 256.0 * k);
        const double slips = std::floor(k / 700.0);
        const double cycles = double(oscillator) / 256.0 * k + jitter / (2 * M_PI) + slips / f.steps;
        const double turn = cycles - std::floor(cycles);
        data.add(cf(s * std::polar(1.0, -2 * M_PI * turn)), 70000 + k, int32_t(std::lround(turn * 65536)) & 0xFFFF);
    }
    return data.carrier(reading);
}

} // namespace

// Misses that leave a narrow loop slipping, and larger ones, read from one
// frame within a small fraction of the miss: 8PSK short frames at 8 dB,
// QPSK at 3 dB and at 1 dB.
TEST(DataCarrierReading, ReadsTheCarrierTheLoopMissed)
{
    for (float missed : {-0.7f, -0.35f, -0.1f, -0.05f, 0.0f, 0.03f, 0.08f, 0.2f, 0.35f, 0.7f}) {
        SCOPED_TRACE(missed);
        float reading = NAN;
        ASSERT_TRUE(read({8, 8.0, 5400}, 0.7f + missed, 0.7f, 1, reading));
        EXPECT_NEAR(reading, 0.7f + missed, 0.005f);
        ASSERT_TRUE(read({4, 3.0, 7920}, -3.0f + missed, -3.0f, 2, reading));
        EXPECT_NEAR(reading, -3.0f + missed, 0.005f);
        ASSERT_TRUE(read({4, 1.0, 32400}, 5.0f + missed, 5.0f, 3, reading));
        EXPECT_NEAR(reading, 5.0f + missed, 0.005f);
    }
}

// Noise alone, or 8PSK far below where it decodes, shows no carrier; nor
// does a frame cut short.
TEST(DataCarrierReading, NothingWhereTheDataShowsNoCarrier)
{
    float reading = 0;
    for (uint32_t seed = 1; seed <= 5; ++seed) {
        EXPECT_FALSE(read({8, 8.0, 5400, true}, 0.0f, 0.0f, seed, reading));
        EXPECT_FALSE(read({4, 3.0, 32400, true}, 0.0f, 0.0f, seed, reading));
        EXPECT_FALSE(read({8, -3.0, 5400}, 0.0f, 0.0f, seed, reading));
    }
    EXPECT_FALSE(read({8, 20.0, DataCarrierReading::kRun * (DataCarrierReading::kMinimumRuns - 1)}, 0.1f, 0.0f, 1,
                      reading));
    EXPECT_TRUE(read({8, 20.0, DataCarrierReading::kRun * DataCarrierReading::kMinimumRuns}, 0.1f, 0.0f, 1, reading));
    EXPECT_NEAR(reading, 0.1f, 0.01f);
}

// The mixer moves by a quarter of the symbol rate in the middle of a frame
// and the loop follows: the reading starts again around the loop's new
// frequency and finds the carrier there. (Around the old one, a quarter of
// the symbol rate away, the power's spectrum repeats, and shows a carrier
// that is not there.)
TEST(DataCarrierReading, StartsAgainWhereTheMixerMoved)
{
    const double sigma = std::sqrt(0.5 / std::pow(10.0, 0.8));
    std::mt19937 rng(4);
    std::uniform_int_distribution<int> point(0, 7);
    std::normal_distribution<double> noise(0, sigma);
    DataCarrierReading data;
    data.start(8, 64.3f);
    double phase = 0;
    float carrier = 64.2f, oscillator = 64.3f;
    for (int k = 0; k < 5400; ++k) {
        if (k == 2000) {
            carrier -= 64;
            oscillator -= 64;
            data.restart(oscillator);
        }
        phase += double(oscillator) / 256;
        const std::complex<double> s = std::polar(1.0, 2 * M_PI * (point(rng) / 8.0 + double(carrier) / 256 * k)) +
                                       std::complex<double>(noise(rng), noise(rng));
        const double turn = phase - std::floor(phase);
        data.add(cf(s * std::polar(1.0, -2 * M_PI * turn)), k, int32_t(std::lround(turn * 65536)) & 0xFFFF);
    }
    float reading = 0;
    ASSERT_TRUE(data.carrier(reading));
    EXPECT_NEAR(reading, 0.2f, 0.01f);
}
