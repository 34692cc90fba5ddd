// Channel LLRs from the demapper's values: the vector kernels against their
// references, the QPSK scale, the 8PSK and APSK bits against a brute-force
// max-log over the transmitter's constellation, and the Es/N0 estimates.
#include "FecTestFrames.h"

#include "fec/ApskConstellation.h"
#include "fec/ChannelLlr.h"
#include "tx/BitInterleaver.h"
#include "tx/Constellations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

using namespace fectest;

namespace {

std::vector<int8_t> randomBytes(int n, std::mt19937& rng)
{
    std::vector<int8_t> v(static_cast<size_t>(n));
    for (int8_t& x : v)
        x = int8_t(rng());
    return v;
}

TEST(ChannelLlr, VectorKernelsMatchTheirReferences)
{
    std::mt19937 rng(7);
    for (int n : {0, 1, 15, 16, 17, 255, 4096 * 3 + 5, 64800}) {
        const std::vector<int8_t> in = randomBytes(n, rng);
        EXPECT_EQ(ChannelLlr::sumOfSquares(in.data(), n), ChannelLlr::sumOfSquaresReference(in.data(), n)) << n;
        for (float gain : {0.0f, 0.013f, 0.25f, -0.7f, 3.0f, 1e30f, std::numeric_limits<float>::quiet_NaN()}) {
            std::vector<int8_t> fast(static_cast<size_t>(n)), reference(static_cast<size_t>(n));
            ChannelLlr::scale(in.data(), gain, fast.data(), n);
            ChannelLlr::scaleReference(in.data(), gain, reference.data(), n);
            EXPECT_EQ(fast, reference) << "n " << n << " gain " << gain;
        }
    }
    // Every value at its largest: the 32-bit partial sums must not overflow.
    const std::vector<int8_t> largest(1 << 20, -128);
    EXPECT_EQ(ChannelLlr::sumOfSquares(largest.data(), int(largest.size())), int64_t(1 << 20) * 16384);

    std::vector<float> llr(1000);
    for (float& x : llr)
        x = std::uniform_real_distribution<float>(-40.0f, 40.0f)(rng);
    llr[3] = std::numeric_limits<float>::quiet_NaN();
    llr[5] = std::numeric_limits<float>::infinity();
    llr[7] = -std::numeric_limits<float>::infinity();
    llr[9] = 0.125f; // ties go to even: 0.5 units → 0
    llr[11] = 0.375f; // 1.5 units → 2
    std::vector<int8_t> fast(llr.size()), reference(llr.size());
    ChannelLlr::quantise(llr.data(), fast.data(), int(llr.size()));
    ChannelLlr::quantiseReference(llr.data(), reference.data(), int(llr.size()));
    EXPECT_EQ(fast, reference);
    EXPECT_EQ(fast[3], 0);
    EXPECT_EQ(fast[5], 127);
    EXPECT_EQ(fast[7], -127);
    EXPECT_EQ(fast[9], 0);
    EXPECT_EQ(fast[11], 2);
}

// QPSK: an LLR of a projection at Es/N0 ρ has mean 2ρ in the direction of
// the bit sent and variance 4ρ.
TEST(ChannelLlr, QpskValuesCarryTheirLikelihood)
{
    std::mt19937 rng(11);
    for (double db : {0.0, 3.0, 6.0}) {
        const EncodedFrame frame = encodeRandomFrame(3, rng);
        const uint8_t pls = plsCodeFor(3, false);
        std::vector<int8_t> values = demappedValues(frame.codeword, pls, db, rng);
        float used = 0;
        ASSERT_TRUE(ChannelLlr::convert(values.data(), 64800, pls, float(db), &used));
        EXPECT_FLOAT_EQ(used, float(db));
        double sum = 0, sumSquares = 0;
        for (int n = 0; n < 64800; ++n) {
            const int bit = (frame.codeword[size_t(n / 8)] >> (7 - n % 8)) & 1;
            const double llr = (bit ? -values[size_t(n)] : values[size_t(n)]) / double(ChannelLlr::kUnitsPerLlr);
            sum += llr;
            sumSquares += llr * llr;
        }
        const double rho = std::pow(10.0, db / 10.0);
        const double mean = sum / 64800;
        // The demapper limits projections beyond ±1, which trims the upper tail a little.
        EXPECT_NEAR(mean, 2 * rho, 0.06 * 2 * rho) << db << " dB";
        EXPECT_NEAR(sumSquares / 64800 - mean * mean, 4 * rho, 0.12 * 4 * rho) << db << " dB";
    }
}

// The LLRs of the three bits of every 8PSK symbol, computed by brute force
// from the transmitter's points as the demodulator meets them (I and Q
// exchanged) — bit order, column order (reversed for 3/5) and weights.
TEST(ChannelLlr, Psk8BitsAreMaxLogOverTheTransmitterPoints)
{
    std::mt19937 rng(13);
    const double level = 0.61;
    for (int modcod : {12, 13}) {
        const int code = modcod == 12 ? 4 : 5;
        const uint8_t pls = uint8_t(modcod);
        const double db = 7.0;
        const double rho = std::pow(10.0, db / 10.0);
        const EncodedFrame frame = encodeRandomFrame(code, rng);
        std::vector<uint8_t> labels(21600);
        tx::interleaveToLabels(frame.codeword.data(), 64800, modcod, labels.data());
        const std::vector<tx::cf32> points = tx::constellationPoints(modcod);

        // The received symbols, kept to recompute the LLRs from.
        std::mt19937 noiseRng(99);
        const std::vector<int8_t> demapped = demappedValues(frame.codeword, pls, db, noiseRng, level);
        std::vector<int8_t> values = demapped;
        ASSERT_TRUE(ChannelLlr::convert(values.data(), 64800, pls, float(db)));

        // Received symbol positions (scaled as the demapper's bytes) from
        // the same noise, in the demodulator's I/Q order.
        std::mt19937 replay(99);
        std::normal_distribution<double> noise(0.0, 1.0);
        const double sigma = std::sqrt(1.0 / (2.0 * rho));
        double sumPower = 0;
        std::vector<std::complex<double>> received(21600);
        for (int s = 0; s < 21600; ++s) {
            const double re = points[labels[size_t(s)]].real() + sigma * noise(replay);
            const double im = points[labels[size_t(s)]].imag() + sigma * noise(replay);
            received[size_t(s)] = std::complex<double>(im, re) * level * 128.0;
            sumPower += std::norm(received[size_t(s)]);
        }
        // The conversion fits amplitude and noise to the frame's power.
        const double m2 = sumPower / 21600;
        const double n0 = m2 / (1 + rho);
        const double amplitude = std::sqrt(rho * n0);

        int compared = 0, far = 0;
        for (int s = 0; s < 21600; ++s) {
            for (int bit = 0; bit < 3; ++bit) {
                double best[2] = {1e300, 1e300};
                for (int label = 0; label < 8; ++label) {
                    const std::complex<double> p(points[size_t(label)].imag(), points[size_t(label)].real());
                    const double d = std::norm(received[size_t(s)] - p * amplitude);
                    const int b = (label >> (2 - bit)) & 1;
                    best[b] = std::min(best[b], d);
                }
                const double llr = (best[1] - best[0]) / n0;
                const int column = modcod == 12 ? 2 - bit : bit;
                const double expected = std::clamp(llr * ChannelLlr::kUnitsPerLlr, -127.0, 127.0);
                const int got = values[size_t(column * 21600 + s)];
                ++compared;
                // The demapper's bytes are rounded toward zero: about a
                // tenth of an LLR at this level.
                if (std::fabs(got - expected) > 1.5)
                    ++far;
            }
        }
        EXPECT_LT(far, compared / 100) << "modcod " << modcod;
    }
}

// The receiver's APSK points are the transmitter's, label by label, for
// every code rate's ring ratios.
TEST(ChannelLlr, ApskPointsAreTheTransmitters)
{
    for (int modcod = 18; modcod <= 28; ++modcod) {
        const ApskConstellation* c = apskConstellation(modcod);
        ASSERT_NE(c, nullptr) << modcod;
        const std::vector<tx::cf32> sent = tx::constellationPoints(modcod);
        ASSERT_EQ(size_t(c->size), sent.size()) << modcod;
        EXPECT_EQ(c->bitsPerSymbol, modcod >= 24 ? 5 : 4);
        for (size_t label = 0; label < sent.size(); ++label)
            EXPECT_LT(std::abs(c->points[label] - sent[label]), 1e-6f) << modcod << " label " << label;
    }
    EXPECT_EQ(apskConstellation(17), nullptr);
    EXPECT_EQ(apskConstellation(29), nullptr);
}

// APSK: every bit's LLR is the max-log over the transmitter's points of the
// symbol the demapper kept (I and Q in the first two columns), at the
// amplitude and noise fitted to the frame's power; and the frame decodes.
TEST(ChannelLlr, ApskBitsAreMaxLogOverTheTransmitterPoints)
{
    std::mt19937 rng(23);
    for (const auto& [code, bits, db] : {std::tuple<int, int, double>{5, 4, 9.5}, {7, 5, 14.0}, {18, 5, 14.5}}) {
        const uint8_t pls = fectest::apskPlsCodeFor(code, bits);
        const int modcod = pls & 0x1F;
        const int n = frameBits(code);
        const int symbols = n / bits;
        const EncodedFrame frame = encodeRandomFrame(code, rng);
        std::mt19937 noiseRng(5);
        std::vector<int8_t> values = demappedValues(frame.codeword, pls, db, noiseRng, 0.79);
        const std::vector<int8_t> kept = values;
        ASSERT_TRUE(ChannelLlr::convert(values.data(), n, pls, float(db)));

        const std::vector<tx::cf32> points = tx::constellationPoints(modcod);
        double m2 = 0;
        for (int s = 0; s < symbols; ++s)
            m2 += double(kept[size_t(s)]) * kept[size_t(s)] + double(kept[size_t(symbols + s)]) * kept[size_t(symbols + s)];
        m2 /= symbols;
        const double rho = std::pow(10.0, db / 10.0);
        const double n0 = m2 / (1 + rho);
        const double amplitude = std::sqrt(rho * n0);
        int compared = 0, far = 0;
        for (int s = 0; s < symbols; ++s) {
            const std::complex<double> y(kept[size_t(s)], kept[size_t(symbols + s)]);
            for (int bit = 0; bit < bits; ++bit) {
                double best[2] = {1e300, 1e300};
                for (size_t label = 0; label < points.size(); ++label) {
                    const std::complex<double> p(points[label].real(), points[label].imag());
                    best[(label >> (bits - 1 - bit)) & 1] = std::min(best[(label >> (bits - 1 - bit)) & 1],
                                                                     std::norm(y - p * amplitude));
                }
                const double expected = std::clamp((best[1] - best[0]) / n0 * ChannelLlr::kUnitsPerLlr, -127.0, 127.0);
                ++compared;
                if (std::fabs(values[size_t(bit * symbols + s)] - expected) > 0.51)
                    ++far;
            }
        }
        EXPECT_EQ(far, 0) << "modcod " << modcod << " of " << compared;

        TestDecoder decoder(code);
        decoder->setProfile(LdpcDecoder::scaledProfile(code));
        std::vector<uint8_t> out(size_t(n / 8));
        EXPECT_GE(decoder->decodeFast(values.data(), out.data()), 0) << "modcod " << modcod;
        EXPECT_TRUE(std::equal(frame.bbframe.begin(), frame.bbframe.end(), out.begin())) << "modcod " << modcod;

        // Without a measurement the frame's own distances to the points tell
        // (high by what wrong decisions hide), and it decodes as well.
        float used = 0;
        values = kept;
        ASSERT_TRUE(ChannelLlr::convert(values.data(), n, pls, NAN, &used));
        EXPECT_GT(used, db - 0.3) << "modcod " << modcod;
        EXPECT_LT(used, db + 2.0) << "modcod " << modcod;
        EXPECT_GE(decoder->decodeFast(values.data(), out.data()), 0) << "modcod " << modcod;
        EXPECT_TRUE(std::equal(frame.bbframe.begin(), frame.bbframe.end(), out.begin())) << "modcod " << modcod;
    }
}

TEST(ChannelLlr, EstimatesFromTheFrameItself)
{
    std::mt19937 rng(17);
    for (double db : {6.0, 10.0, 14.0}) {
        const EncodedFrame frame = encodeRandomFrame(5, rng);
        const std::vector<int8_t> qpsk = demappedValues(frame.codeword, plsCodeFor(5, false), db, rng);
        EXPECT_NEAR(ChannelLlr::estimateQpskDb(qpsk.data(), 64800), db, 0.3) << db;
        const std::vector<int8_t> psk8 = demappedValues(frame.codeword, plsCodeFor(5, true), db, rng);
        // The demapper's rounding toward zero reads a little high at 6 dB.
        EXPECT_NEAR(ChannelLlr::estimate8pskDb(psk8.data() + 2 * 21600, psk8.data() + 21600, 21600), db, 0.5) << db;
        // Without a measurement, convert() uses the estimate.
        std::vector<int8_t> values = qpsk;
        float used = 0;
        ASSERT_TRUE(ChannelLlr::convert(values.data(), 64800, plsCodeFor(5, false), NAN, &used));
        EXPECT_NEAR(used, db, 0.3);
    }
    // Down to the lowest rates' threshold, where much of the noise lies
    // beyond what the demapper writes (±127).
    for (double db : {-2.0, 1.3, 3.0}) {
        const EncodedFrame frame = encodeRandomFrame(0, rng);
        const std::vector<int8_t> qpsk = demappedValues(frame.codeword, plsCodeFor(0, false), db, rng);
        EXPECT_NEAR(ChannelLlr::estimateQpskDb(qpsk.data(), 64800), db, 0.3) << db;
    }
    EXPECT_TRUE(std::isnan(ChannelLlr::estimateQpskDb(nullptr, 10)));
    EXPECT_TRUE(std::isnan(ChannelLlr::estimate8pskDb(nullptr, nullptr, 0)));
    // No signal, and no noise.
    const std::vector<int8_t> zeros(64800, 0);
    EXPECT_FLOAT_EQ(ChannelLlr::estimateQpskDb(zeros.data(), 64800), ChannelLlr::kLowestDb);
    std::vector<int8_t> clean(64800);
    for (size_t i = 0; i < clean.size(); ++i)
        clean[i] = i % 3 ? 55 : -55;
    EXPECT_FLOAT_EQ(ChannelLlr::estimateQpskDb(clean.data(), 64800), ChannelLlr::kHighestDb);
}

TEST(ChannelLlr, RefusesWhatItCannotScale)
{
    std::mt19937 rng(19);
    const std::vector<int8_t> original = randomBytes(64800, rng);
    std::vector<int8_t> values = original;
    EXPECT_FALSE(ChannelLlr::convert(values.data(), 16200, 0x04, 3.0f));  // normal frame, short length
    EXPECT_FALSE(ChannelLlr::convert(values.data(), 64800, 0x24, 3.0f));  // short frame, normal length
    EXPECT_FALSE(ChannelLlr::convert(values.data(), 64800, 29, 3.0f));    // reserved
    EXPECT_FALSE(ChannelLlr::convert(values.data(), 64800, 0, 3.0f));     // dummy frame
    EXPECT_FALSE(ChannelLlr::convert(nullptr, 64800, 0x04, 3.0f));
    EXPECT_EQ(values, original);
    // A measurement beyond the limits is taken at the limit; infinities too.
    float used = 0;
    EXPECT_TRUE(ChannelLlr::convert(values.data(), 64800, 0x04, 99.0f, &used));
    EXPECT_FLOAT_EQ(used, ChannelLlr::kHighestDb);
    values = original;
    EXPECT_TRUE(ChannelLlr::convert(values.data(), 64800, 0x04, -INFINITY, &used));
    EXPECT_FLOAT_EQ(used, ChannelLlr::kLowestDb);
    for (int8_t v : values)
        ASSERT_GE(v, -127);
}

} // namespace
