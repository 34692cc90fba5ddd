#include "demod/CarrierLoop.h"
#include "demod/DemodWorker.h"
#include "demod/Equalizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using cf = std::complex<float>;

// Dot product and tap update: packed and plain agree within float rounding
// for every length, on random data.
TEST(Equalizer, VectorKernelsMatchTheReferenceWithinRounding)
{
    std::mt19937 rng(8);
    std::uniform_real_distribution<float> d(-1, 1);
    for (int length = 16; length <= 256; length += 16) {
        alignas(16) float taps[512], delay[512], tapsRef[512];
        for (int i = 0; i < 512; ++i) {
            taps[i] = tapsRef[i] = d(rng);
            delay[i] = d(rng);
        }
        const cf a = eq_dot_ref(taps, delay, length);
        const cf b = eq_dot_sse41(taps, delay, length);
        const float tolerance = 1e-5f * float(length);
        EXPECT_NEAR(a.real(), b.real(), tolerance) << length;
        EXPECT_NEAR(a.imag(), b.imag(), tolerance) << length;

        const cf e(d(rng) * 0.01f, d(rng) * 0.01f);
        eq_update_ref(tapsRef, delay, length, e);
        eq_update_sse41(taps, delay, length, e);
        for (int i = 0; i < 2 * length; ++i)
            ASSERT_NEAR(taps[i], tapsRef[i], 1e-6f) << length << " " << i;
        for (int i = 2 * length; i < 512; ++i)
            ASSERT_EQ(taps[i], tapsRef[i]) << "taps past the length are untouched";
    }
}

TEST(Equalizer, StartsFromTheCentreTapsAndDecidesOnTheAxis)
{
    Equalizer eq;
    eq.setAdapting(false);
    std::vector<cf> x;
    for (int n = 0; n < 30; ++n)
        x.emplace_back(0.1f * n, -0.05f * n);
    const cf centre(0.87758f, 0.47943f);
    for (int n = 0; n < 30; ++n) {
        const cf y = eq.process(x[n]);
        const cf expected = centre * ((n >= 7 ? x[n - 7] : cf()) + (n >= 8 ? x[n - 8] : cf()));
        EXPECT_NEAR(std::abs(y - expected), 0.0f, 1e-5f) << n;
    }

    // Decision-directed: an output exactly on the I axis takes d_Q = +0.707,
    // so the tap that made it turns towards +Q.
    Equalizer dd;
    dd.setMode(Equalizer::DecisionDirected);
    dd.setStep(0.1f);
    const cf one(1.0f, 0.0f);
    dd.setTaps(&one, 1);
    const cf y = dd.process(cf(0.5f, 0));
    EXPECT_EQ(y, cf(0.5f, 0));
    // Δtap = μ·(0.707 − 0.5, 0.707 − 0)·conj(0.5)
    EXPECT_NEAR(dd.taps()[0], 1.0f + 0.1f * 0.207f * 0.5f, 1e-6f);
    EXPECT_NEAR(dd.taps()[1], 0.1f * 0.707f * 0.5f, 1e-6f);
    EXPECT_EQ(dd.taps()[2], 0.0f) << "only the tap that made the output";
}

TEST(CarrierLoop, ErrorIsLimitedAndSwitchingResets)
{
    CarrierLoop loop;
    loop.update(0.4f);
    EXPECT_EQ(loop.frequency, 0.0f) << "disabled: no update";
    loop.setEnabled(true);
    loop.update(0.4f);
    EXPECT_FLOAT_EQ(loop.integrator, 0.03125f * 0.25f);
    EXPECT_FLOAT_EQ(loop.frequency, 2.0f * 0.25f + 0.03125f * 0.25f);
    loop.advance();
    EXPECT_EQ(loop.phase, int32_t(0.5078125f * 256));
    loop.setEnabled(false);
    EXPECT_EQ(loop.frequency, 0.0f);
    EXPECT_EQ(loop.integrator, 0.0f);
    const int32_t phase = loop.phase;
    loop.advance();
    EXPECT_EQ(loop.phase, phase) << "stands still after a disable";

    loop.frequency = -1.0f;   // one step back past zero wraps within 16 bits
    loop.phase = 100;
    loop.advance();
    EXPECT_EQ(loop.phase, (100 - 256) & 0xFFFF);

    // The derotation turns by −θ.
    loop.phase = 64 << 8;   // a quarter cycle
    const cf s = loop.derotate(cf(0, 1));
    EXPECT_NEAR(s.real(), 1.0f, 1e-6f);
    EXPECT_NEAR(s.imag(), 0.0f, 1e-6f);
}

// The likelihood-weighted QPSK detector: tanh within its stated error, the
// hard detector at high Es/N0, and near 0 dB a loop on it holds the phase
// with less jitter than on hard decisions, and without a bias.
TEST(CarrierLoop, SoftDetectorSteadiesThePhaseNearZeroDb)
{
    for (float x = -8.0f; x <= 8.0f; x += 0.01f)
        ASSERT_NEAR(softSign(x), std::tanh(x), 0.025f) << x;
    const cf clean(0.3f, -0.6f);
    EXPECT_NEAR(qpskSoftPhaseError(clean, 1000.0f), qpskPhaseError(clean), 1e-5f);

    const float esn0 = std::pow(10.0f, -2.0f / 10.0f);
    const float c = std::sqrt(2.0f) * esn0;
    const float sigma = std::sqrt(1.0f / (2.0f * esn0));
    const double offset = 0.35;   // radians, the carrier's standing phase
    auto jitter = [&](bool soft, double& mean) {
        std::mt19937 rng(11);
        std::normal_distribution<float> noise(0.0f, sigma);
        std::uniform_int_distribution<int> bit(0, 1);
        CarrierLoop loop;
        loop.setEnabled(true);
        loop.setGains(0.5f, 2.0f / 2048.0f);
        loop.phase = int32_t(offset / (2 * M_PI) * 65536);
        double sum = 0, sumSquares = 0;
        const int settle = 2000, symbols = 40000;
        for (int k = 0; k < settle + symbols; ++k) {
            const cf symbol(bit(rng) ? 0.70710677f : -0.70710677f, bit(rng) ? 0.70710677f : -0.70710677f);
            const cf received = symbol * std::polar(1.0f, float(offset)) + cf(noise(rng), noise(rng));
            const cf s = loop.derotate(received);
            loop.update(soft ? qpskSoftPhaseError(s, c) : qpskPhaseError(s));
            loop.advance();
            if (k >= settle) {
                double e = loop.phase / 65536.0 * 2 * M_PI - offset;
                e = std::remainder(e, 2 * M_PI);
                sum += e;
                sumSquares += e * e;
            }
        }
        mean = sum / symbols;
        return std::sqrt(sumSquares / symbols - mean * mean);
    };
    double hardMean = 0, softMean = 0;
    const double hard = jitter(false, hardMean);
    const double soft = jitter(true, softMean);
    EXPECT_LT(soft, 0.8 * hard) << "hard " << hard << " rad rms, soft " << soft;
    EXPECT_LT(std::abs(softMean), 0.05);
    EXPECT_LT(soft, 0.25);
}

// Values the controls cannot take change nothing: an equalizer length that is
// not a multiple of 16 up to the maximum, an equalizer mode above 2 (which
// would otherwise restart the adapted taps).
TEST(DemodWorkerControls, SettersIgnoreWhatTheyMust)
{
    CaptureStdout();
    DemodWorker worker([](WorkBuffer*, WorkBuffer*) {});
    worker.setEqualizerLength(80);
    EXPECT_EQ(worker.equalizerTaps().size(), 80u);
    worker.setEqualizerLength(300);
    worker.setEqualizerLength(17);
    EXPECT_EQ(worker.equalizerTaps().size(), 80u);

    // Adapt the taps on some input, then ask for mode 3.
    worker.setEqualizerMode(EqualizerMode::ConstantModulus);
    std::mt19937 rng(8);
    WorkBuffer in(4 * 4000), out(DemodWorker::outputBytes(4 * 4000));
    for (auto& b : in)
        b = uint8_t(rng());
    worker.process(&in, &out);
    const auto adapted = worker.equalizerTaps();
    worker.setEqualizerMode(EqualizerMode(3));   // no such mode
    EXPECT_EQ(worker.equalizerTaps(), adapted);
    worker.setEqualizerMode(EqualizerMode::ConstantModulus);   // a valid mode restarts them
    EXPECT_NE(worker.equalizerTaps(), adapted);

    EXPECT_TRUE(worker.dvbS2Mode());
    worker.setDVBMode(false);
    EXPECT_FALSE(worker.dvbS2Mode());
    GetCapturedStdout();
}

TEST(DemodWorkerControls, AnyBlockIsHandledInBothModes)
{
    DemodWorker worker([](WorkBuffer*, WorkBuffer*) {});
    std::mt19937 rng(4);
    for (bool s2 : {true, false}) {
        worker.setDVBMode(s2);
        for (size_t n : {0, 1, 7, 1000, 40000}) {
            WorkBuffer in(4 * n + (n % 3)), out(16);   // too small: grown
            for (auto& b : in)
                b = uint8_t(n == 1000 ? 0 : rng());
            worker.process(&in, &out);
            EXPECT_TRUE(out.size() == 8 * n || (s2 && out.size() == 8 * n + 64800)) << n;
        }
    }
    EXPECT_EQ(worker.lockCounter(), 0);
    EXPECT_FALSE(worker.locked());
}

// DVB-S: symbols come out turned by the manual derotation; one of the four
// QPSK alignments restores the transmitted points.
TEST(DvbsSymbolPath, DerotationPicksTheQuadrant)
{
    std::mt19937 rng(12);
    const float a = 0.5f;
    std::vector<cf> sent;
    std::vector<int16_t> in;
    for (int k = 0; k < 64; ++k) {
        const cf x((rng() % 2 ? a : -a), (rng() % 2 ? a : -a));
        sent.push_back(x);
        // The resampler hands over (Im, Re).
        in.push_back(int16_t(std::lround(x.imag() / Demodulator::kInputScale)));
        in.push_back(int16_t(std::lround(x.real() / Demodulator::kInputScale)));
    }
    int restoring = 0;
    for (int v : {0, 64, 128, 192, 256}) {
        Demodulator demod;
        demod.equalizer().setMode(Equalizer::Off);
        demod.setDerotation(v);
        std::vector<cf> out(sent.size());
        SymbolTap tap;
        tap.source = DisplaySource::Pilots;   // DVB-S shows every symbol whatever the source
        demod.processS1(in.data(), sent.size(), out.data(), &tap);
        // With the inversion flag set the symbol is −j·x, then turned by −2πv/256.
        const cf turn = cf(0, -1) * std::polar(1.0f, -float(M_PI) * float(v) / 128.0f);
        bool restores = true;
        for (size_t k = 0; k < sent.size(); ++k) {
            EXPECT_NEAR(std::abs(out[k] - sent[k] * turn), 0.0f, 1e-3f) << v << " " << k;
            restores = restores && std::abs(out[k] - sent[k]) < 1e-3f;
        }
        restoring += restores;
        EXPECT_EQ(tap.symbols, out);
    }
    EXPECT_EQ(restoring, 1) << "exactly one alignment (192) gives the sent points";

    Demodulator plain;
    plain.equalizer().setMode(Equalizer::Off);
    const int16_t pair[2] = {1000, 1000};
    cf z;
    plain.processS1(pair, 1, &z);
    EXPECT_NEAR(z.real(), 0.0863f, 1e-4f);
    EXPECT_NEAR(z.imag(), -0.0863f, 1e-4f);
}
