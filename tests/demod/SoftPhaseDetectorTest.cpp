#include "demod/CarrierLoop.h"
#include "demod/SoftPhaseDetector.h"

#include <gtest/gtest.h>

#include <cstring>

#include <cmath>
#include <random>

using cf = std::complex<float>;

namespace {

cf psk8Point(int k) { return std::polar(1.0f, float(M_PI / 4 * k)); }

float hardPsk8Error(cf s)
{
    int nearest = 0;
    for (int k = 1; k < 8; ++k)
        if ((s * std::conj(psk8Point(k))).real() > (s * std::conj(psk8Point(nearest))).real())
            nearest = k;
    return (s * std::conj(psk8Point(nearest))).imag();
}

// The likelihood-weighted detector over all eight points.
float fullPsk8Error(cf s, float c)
{
    double num = 0, den = 0;
    for (int k = 0; k < 8; ++k) {
        const cf v = s * std::conj(psk8Point(k));
        const double w = std::exp(double(c) * double(v.real()));
        num += w * double(v.imag());
        den += w;
    }
    return float(num / den);
}

double linear(double db) { return std::pow(10.0, db / 10.0); }

// The mean slope of a detector read from random symbols, ±2° either side.
template <typename Detector>
double sampledSlope(Detector detector, int points, float pointPhase, double esn0Db, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, float(std::sqrt(0.5 / linear(esn0Db))));
    std::uniform_int_distribution<int> pick(0, points - 1);
    const float turn = float(2.0 * M_PI / 180.0);
    double sum = 0;
    const int n = 200000;
    for (int i = 0; i < n; ++i) {
        const cf point = std::polar(1.0f, pointPhase + float(2 * M_PI / points * pick(rng)));
        const cf s = point + cf(noise(rng), noise(rng));
        sum += double(detector(s * std::polar(1.0f, turn))) - double(detector(s * std::polar(1.0f, -turn)));
    }
    return sum / n / (2 * double(turn));
}

} // namespace

// The vector detector gives the plain one's value to the bit, from clean
// points to far noise, at every weight the loop uses (and one so high that
// all but the nearest weights underflow to zero).
TEST(SoftPhaseDetector, Psk8VectorWeightsMatchThePlainOnes)
{
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> d(-2.0f, 2.0f);
    for (float c : {0.5f, 2.0f, float(2 * linear(6.9)), 60.0f, 1000.0f, 1e5f})
        for (int i = 0; i < 5000; ++i) {
            const cf s(d(rng), d(rng));
            const float vector = psk8SoftPhaseError(s, c), plain = psk8SoftPhaseErrorRef(s, c);
            ASSERT_EQ(std::memcmp(&vector, &plain, sizeof vector), 0) << s << " c " << c;
        }
}

// The detector is the likelihood-weighted sum (its exponential within
// rounding), the hard detector on a clean signal, blind to the
// constellation's turns, and steers towards the point.
TEST(SoftPhaseDetector, Psk8WeighsTheNearestPointsByLikelihood)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> d(-1.5f, 1.5f);
    const float c = float(2 * linear(6.9));
    for (int i = 0; i < 2000; ++i) {
        const cf s(d(rng), d(rng));
        ASSERT_NEAR(psk8SoftPhaseError(s, c), fullPsk8Error(s, c), 2e-4f) << s;
        ASSERT_NEAR(psk8SoftPhaseError(s * psk8Point(3), c), psk8SoftPhaseError(s, c), 1e-5f) << s;
        // Away from the decision boundaries, a high c is the hard detector.
        const float fromBoundary = std::fabs(std::remainder(std::arg(s) - float(M_PI / 8), float(M_PI / 4)));
        if (fromBoundary > 0.05f && std::abs(s) > 0.3f) {
            ASSERT_NEAR(psk8SoftPhaseError(s, 1000.0f), hardPsk8Error(s), 1e-4f) << s;
        }
    }
    EXPECT_GT(psk8SoftPhaseError(std::polar(1.0f, 0.1f) * psk8Point(5), c), 0.03f);
    EXPECT_LT(psk8SoftPhaseError(std::polar(1.0f, -0.1f) * psk8Point(2), c), -0.03f);
    // Halfway between two points it cannot tell which way to steer.
    EXPECT_NEAR(psk8SoftPhaseError(std::polar(1.0f, float(M_PI / 8)), c), 0.0f, 1e-4f);
}

// The tabulated slopes are what random symbols show, those of the hard
// detectors on a clean signal, and fall as the noise rises; the gains take
// them to the slopes the loop was tuned at, and no further.
TEST(SoftPhaseDetector, SlopesAreThoseTheNoiseLeaves)
{
    auto qpsk = [c = float(std::sqrt(2.0) * linear(-2.05))](cf s) { return qpskSoftPhaseError(s, c); };
    auto psk8 = [c = float(2 * linear(6.9))](cf s) { return psk8SoftPhaseError(s, c); };
    const double qpskSlope = qpskSoftDetectorSlope(-2.05);
    const double psk8Slope = psk8SoftDetectorSlope(6.9);
    EXPECT_NEAR(sampledSlope(qpsk, 4, float(M_PI / 4), -2.05, 1), qpskSlope, 0.1 * qpskSlope);
    EXPECT_NEAR(sampledSlope(psk8, 8, 0.0f, 6.9, 2), psk8Slope, 0.1 * psk8Slope);
    // A tenth or less of the clean signal's near the thresholds.
    EXPECT_LT(qpskSlope, 0.1);
    EXPECT_LT(psk8Slope, 0.1);
    EXPECT_NEAR(qpskSoftDetectorSlope(16), std::sqrt(2.0), 0.03);
    EXPECT_NEAR(psk8SoftDetectorSlope(16), 1.0, 0.03);
    for (double db = -4; db < 12; db += 0.5)
        EXPECT_LT(qpskSoftDetectorSlope(db), qpskSoftDetectorSlope(db + 0.5)) << db;
    for (double db = 4; db < 16; db += 0.5)
        EXPECT_LT(psk8SoftDetectorSlope(db), psk8SoftDetectorSlope(db + 0.5)) << db;

    EXPECT_NEAR(qpskSoftDetectorGain(-2.05) * qpskSlope, kQpskSoftDetectorSlope, 1e-3);
    EXPECT_NEAR(psk8SoftDetectorGain(6.9) * psk8Slope, kPsk8SoftDetectorSlope, 1e-3);
    EXPECT_FLOAT_EQ(qpskSoftDetectorGain(3.0), 1.0f);
    EXPECT_FLOAT_EQ(psk8SoftDetectorGain(12.0), 1.0f);
    EXPECT_FLOAT_EQ(psk8SoftDetectorGain(0.0), kMaxSoftDetectorGain);
}

// A loop on 8PSK at 6.9 dB with the gains of the chain's data symbols: on
// hard decisions the phase wanders a long way from the carrier now and then
// (the frame it happens in fails); on weighted ones scaled to their slope it
// stays near it.
TEST(SoftPhaseDetector, Psk8LoopHoldsThePhaseAtTheThreshold)
{
    const double esn0Db = 6.9;
    const float c = float(2 * linear(esn0Db));
    const float gain = psk8SoftDetectorGain(esn0Db);
    const double offset = 0.2;   // radians, the carrier's standing phase
    auto wander = [&](bool soft, double& rms) {
        std::mt19937 rng(5);
        std::normal_distribution<float> noise(0.0f, float(std::sqrt(0.5 / linear(esn0Db))));
        std::uniform_int_distribution<int> pick(0, 7);
        CarrierLoop loop;
        loop.setEnabled(true);
        loop.setGains(0.5f, 1.0f / 4096.0f);
        loop.phase = int32_t(offset / (2 * M_PI) * 65536);
        int far = 0;
        double sumSquares = 0;
        const int settle = 2000, symbols = 200000;
        for (int k = 0; k < settle + symbols; ++k) {
            const cf received = psk8Point(pick(rng)) * std::polar(1.0f, float(offset)) + cf(noise(rng), noise(rng));
            const cf s = loop.derotate(received);
            loop.update(soft ? gain * psk8SoftPhaseError(s, c) : qpskPhaseError(s * s * cf(0.70710677f, -0.70710677f)));
            loop.advance();
            if (k >= settle) {
                // Against the nearest of the constellation's turns: a slip
                // counts for as long as it lasts, not for ever after.
                const double e = std::remainder(loop.phase / 65536.0 * 2 * M_PI - offset, M_PI / 4);
                sumSquares += e * e;
                far += std::fabs(e) > 10 * M_PI / 180;
            }
        }
        rms = std::sqrt(sumSquares / symbols);
        return double(far) / symbols;
    };
    double hardRms = 0, softRms = 0;
    const double hardFar = wander(false, hardRms);
    const double softFar = wander(true, softRms);
    std::printf("8PSK at 6.9 dB: hard %.4f of the time over 10°, %.2f° rms; weighted %.4f, %.2f°\n", hardFar,
                hardRms * 180 / M_PI, softFar, softRms * 180 / M_PI);
    EXPECT_LT(softFar, 0.5 * hardFar);
    EXPECT_LT(softRms, hardRms);
}
