// Pulse shaping, resampling, the channel and the sample formats.
#include "TxTestData.h"

#include "core/RadixTwoFft.h"

#include "tx/Channel.h"
#include "tx/PulseShaper.h"
#include "tx/SampleFormat.h"
#include "tx/SignalGenerator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

using namespace tx;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<cf32> randomQpsk(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    const float a = float(1.0 / std::sqrt(2.0));
    std::vector<cf32> s(n);
    for (cf32& v : s)
        v = cf32(rng() & 1 ? a : -a, rng() & 1 ? a : -a);
    return s;
}

// Averaged power spectrum (Hann window), bin k at frequency k/n · fs (wrapped).
std::vector<double> spectrum(const std::vector<cf32>& x, size_t n)
{
    std::vector<double> psd(n, 0.0);
    for (size_t start = 0; start + n <= x.size(); start += n / 2) {
        std::vector<std::complex<double>> b(n);
        for (size_t i = 0; i < n; ++i)
            b[i] = std::complex<double>(x[start + i]) * (0.5 - 0.5 * std::cos(2 * kPi * double(i) / double(n)));
        radixTwoFft(b);
        for (size_t i = 0; i < n; ++i)
            psd[i] += std::norm(b[i]);
    }
    return psd;
}

class RrcBandwidth : public testing::TestWithParam<std::tuple<double, double>> {};

// 99.5 % of the power lies within ±(1 + α)·Rs/2, the spectrum is half power at
// ±Rs/2 (the raised-cosine midpoint) and flat below (1 − α)·Rs/2.
TEST_P(RrcBandwidth, OccupiedBandwidthIsOnePlusRollOffTimesSymbolRate)
{
    const double alpha = std::get<0>(GetParam());
    const double sps = std::get<1>(GetParam());
    PulseShaperParams p;
    p.rollOff = alpha;
    p.symbolRate = 1000000;
    p.sampleRate = int64_t(sps * 1e6);
    PulseShaper shaper(p);
    const std::vector<cf32> symbols = randomQpsk(120000, 5);
    std::vector<cf32> out;
    shaper.process(symbols.data(), symbols.size(), out);
    double power = 0;
    for (cf32 v : out)
        power += std::norm(v);
    EXPECT_NEAR(power / double(out.size()), 1.0, 0.02) << "unit output power";

    const size_t n = 2048;
    const std::vector<double> psd = spectrum(out, n);
    auto freq = [&](size_t k) { return (k < n / 2 ? double(k) : double(k) - double(n)) / double(n) * sps; }; // in Rs
    double total = 0, inside = 0, flat = 0, edge = 0;
    int flatBins = 0, edgeBins = 0;
    for (size_t k = 0; k < n; ++k) {
        const double f = std::abs(freq(k));
        total += psd[k];
        if (f <= (1 + alpha) / 2)
            inside += psd[k];
        if (f < (1 - alpha) / 2 * 0.8) {
            flat += psd[k];
            ++flatBins;
        }
        if (std::abs(f - 0.5) < 0.004) {
            edge += psd[k];
            ++edgeBins;
        }
    }
    EXPECT_GT(inside / total, 0.995) << "power within (1 + α)·Rs";
    ASSERT_GT(edgeBins, 0);
    const double edgeDb = 10 * std::log10((edge / edgeBins) / (flat / flatBins));
    EXPECT_NEAR(edgeDb, -3.0, 0.5) << "half power at Rs/2";
}

INSTANTIATE_TEST_SUITE_P(RollOffsAndRates, RrcBandwidth,
                         testing::Combine(testing::Values(0.35, 0.25, 0.20), testing::Values(2.0, 2.4, 4.0)),
                         [](const testing::TestParamInfo<std::tuple<double, double>>& info) {
                             const int beta = int(std::lround(std::get<0>(info.param) * 100));
                             const int sps = int(std::lround(std::get<1>(info.param) * 10));
                             return "rolloff0" + std::to_string(beta) + "_sps" + std::to_string(sps / 10) + "p" +
                                    std::to_string(sps % 10);
                         });

// Symbol k is centred on sample k·fs/Rs: with an isolated symbol the output
// peaks there, also at a fractional ratio and with a timing offset.
TEST(PulseShaper, SymbolsSitWhereTheRatioPutsThem)
{
    for (double timing : {0.0, 0.3}) {
        PulseShaperParams p;
        p.symbolRate = 5;
        p.sampleRate = 12; // 2.4 samples per symbol
        p.timingOffset = timing;
        PulseShaper shaper(p);
        std::vector<cf32> symbols(200, cf32(0, 0));
        symbols[50] = cf32(1, 0);
        std::vector<cf32> out;
        shaper.process(symbols.data(), symbols.size(), out);
        ASSERT_GT(out.size(), 150u);
        // Fit the peak with the known pulse: the two samples around (50 + t)·2.4.
        const double centre = (50 + timing) * 2.4;
        const size_t below = size_t(std::floor(centre));
        const double h0 = PulseShaper::rrc((double(below) - centre) / 2.4, 0.35);
        const double h1 = PulseShaper::rrc((double(below + 1) - centre) / 2.4, 0.35);
        EXPECT_NEAR(out[below].real() / out[below + 1].real(), h0 / h1, 1e-3) << "timing " << timing;
        EXPECT_NEAR(out[below + 5].imag(), 0.0f, 1e-6f);
    }
}

// A matched RRC filter on the output, sampled at the symbol instants, gives
// the symbols back without intersymbol interference (RRC · RRC is Nyquist).
TEST(PulseShaper, MatchedFilterRecoversTheSymbols)
{
    for (int sps : {2, 4}) {
        for (double alpha : {0.35, 0.20}) {
            PulseShaperParams p;
            p.rollOff = alpha;
            p.symbolRate = 1000;
            p.sampleRate = 1000 * sps;
            p.spanSymbols = 32;
            PulseShaper shaper(p);
            const std::vector<cf32> symbols = randomQpsk(3000, 9);
            std::vector<cf32> out;
            shaper.process(symbols.data(), symbols.size(), out);
            const int half = 16 * sps;
            std::vector<double> h(size_t(2 * half + 1));
            double energy = 0;
            for (int i = -half; i <= half; ++i) {
                h[size_t(i + half)] = PulseShaper::rrc(double(i) / sps, alpha);
                energy += h[size_t(i + half)] * h[size_t(i + half)];
            }
            double error = 0, signal = 0;
            for (size_t k = 100; k < 2800; ++k) {
                std::complex<double> y = 0;
                for (int i = -half; i <= half; ++i)
                    y += std::complex<double>(out[k * size_t(sps) + size_t(i + half) - size_t(half)]) * h[size_t(i + half)];
                y /= energy; // Σ h² ≈ sps: the matched filter gain
                error += std::norm(y - std::complex<double>(symbols[k]));
                signal += std::norm(symbols[k]);
            }
            EXPECT_LT(10 * std::log10(error / signal), -40.0) << sps << " samples/symbol, roll-off " << alpha;
        }
    }
}

TEST(Channel, NoiseHasTheStatedPowerAndOffsetsRotate)
{
    ChannelParams p;
    p.sampleRate = 1e6;
    p.samplesPerSymbol = 2.5;
    p.noise = true;
    p.esn0Db = 7.0;
    p.seed = 42;
    Channel noisy(p);
    std::vector<cf32> zeros(200000, cf32(0, 0));
    noisy.process(zeros.data(), zeros.size());
    double power = 0, mean = 0;
    for (cf32 v : zeros) {
        power += std::norm(v);
        mean += v.real();
    }
    const double expected = 2.5 / std::pow(10.0, 0.7);
    EXPECT_NEAR(power / double(zeros.size()) / expected, 1.0, 0.02);
    EXPECT_NEAR(mean / double(zeros.size()), 0.0, 0.005);

    ChannelParams q;
    q.sampleRate = 1e6;
    q.frequencyOffset = 2000;
    q.phaseDegrees = 30;
    Channel rotating(q);
    std::vector<cf32> ones(100001, cf32(1, 0));
    rotating.process(ones.data(), ones.size());
    EXPECT_NEAR(std::arg(ones[0]), 30 * kPi / 180, 1e-6);
    // 100000 samples at 2 kHz / 1 MHz: 200 whole turns, back to 30°.
    EXPECT_NEAR(std::arg(ones[100000]), 30 * kPi / 180, 1e-4);
    EXPECT_NEAR(std::arg(ones[125] * std::conj(ones[0])), 2 * kPi * 2000 * 125 / 1e6, 1e-5);
    EXPECT_NEAR(std::abs(ones[100000]), 1.0, 1e-6);
}

// The carrier's frequency moves linearly with --drift: the phase step
// between samples a second apart differs by drift/fs of a turn.
TEST(Channel, DriftMovesTheCarrierLinearly)
{
    ChannelParams p;
    p.sampleRate = 1e5;
    p.frequencyOffset = 1000;
    p.driftHzPerSecond = 500;
    Channel drifting(p);
    std::vector<cf32> ones(300001, cf32(1, 0));
    drifting.process(ones.data(), ones.size());
    auto frequencyAt = [&](size_t k) {
        return std::arg(ones[k + 1] * std::conj(ones[k])) * p.sampleRate / (2 * kPi);
    };
    EXPECT_NEAR(frequencyAt(0), 1000, 0.5);
    EXPECT_NEAR(frequencyAt(100000), 1500, 0.5);
    EXPECT_NEAR(frequencyAt(299999), 2500, 0.5);
    EXPECT_NEAR(std::abs(ones[300000]), 1.0, 1e-5);
}

// The phase walk grows as a Wiener process: the variance of the phase change
// over N symbols is N times the step's.
TEST(Channel, PhaseNoiseWalksWithTheStatedStep)
{
    ChannelParams p;
    p.sampleRate = 1e6;
    p.samplesPerSymbol = 4;
    p.phaseNoiseDegrees = 2.0;
    Channel walking(p);
    std::vector<cf32> ones(400000, cf32(1, 0));
    walking.process(ones.data(), ones.size());
    for (size_t symbols : {1, 25}) {
        const size_t lag = 4 * symbols;
        double sum = 0;
        size_t count = 0;
        for (size_t k = 0; k + lag < ones.size(); k += lag) {
            const double d = std::arg(ones[k + lag] * std::conj(ones[k]));
            sum += d * d;
            ++count;
        }
        const double rmsDegrees = std::sqrt(sum / double(count)) * 180 / kPi;
        EXPECT_NEAR(rmsDegrees, 2.0 * std::sqrt(double(symbols)), 0.1 * 2.0 * std::sqrt(double(symbols))) << symbols;
    }
    EXPECT_NEAR(std::abs(ones[399999]), 1.0, 1e-5) << "a pure turn";
}

// A dropout removes the signal for its time: silence, or the noise alone.
TEST(Channel, DropoutsLeaveSilenceOrNoise)
{
    ChannelParams p;
    p.sampleRate = 1e5;
    p.samplesPerSymbol = 2;
    p.noise = true;
    p.esn0Db = 20;
    p.dropouts = {{0.1, 0.05, false}, {0.3, 0.1, true}};
    Channel channel(p);
    std::vector<cf32> x(50000, cf32(1, 0));
    // In pieces, as the generator calls it.
    for (size_t at = 0; at < x.size(); at += 777)
        channel.process(x.data() + at, std::min<size_t>(777, x.size() - at));
    auto meanPower = [&](size_t from, size_t to) {
        double s = 0;
        for (size_t k = from; k < to; ++k)
            s += std::norm(x[k]);
        return s / double(to - from);
    };
    const double noisePower = 2 / 100.0;
    EXPECT_NEAR(meanPower(0, 10000), 1 + noisePower, 0.01);
    EXPECT_EQ(meanPower(10000, 15000), 0.0) << "silence";
    EXPECT_NEAR(meanPower(15000, 30000), 1 + noisePower, 0.01);
    EXPECT_NEAR(meanPower(30000, 40000), noisePower, 0.002) << "the noise alone";
    EXPECT_NEAR(meanPower(40000, 50000), 1 + noisePower, 0.01);
}

// A sample clock fast by N ppm takes N ppm more samples for the same symbols.
TEST(SignalGenerator, SampleClockErrorStretchesTheSignal)
{
    TxSettings s;
    s.modcods = {4};
    s.frame = FrameSize::Short;
    auto samplesFor = [&](double ppm) {
        s.sampleClockPpm = ppm;
        SignalGenerator g(s);
        std::vector<cf32> out;
        size_t symbols = 0;
        for (int f = 0; f < 40; ++f)
            symbols += g.nextUnit(out);
        return double(out.size()) / double(symbols);
    };
    const double nominal = samplesFor(0);
    EXPECT_NEAR(nominal, 2.0, 0.01);
    EXPECT_NEAR(samplesFor(500) / nominal, 1.0005, 2e-5);
    EXPECT_NEAR(samplesFor(-300) / nominal, 0.9997, 2e-5);
}

TEST(SampleFormat, ConversionsScaleRoundAndClip)
{
    const cf32 in[3] = {cf32(0.5f, -0.5f), cf32(2.0f, -2.0f), cf32(0.0f, 0.004f)};
    uint8_t out[3 * 8];
    EXPECT_EQ(convertSamples(in, 3, 127.0f, IqFormat::S8, out), 2u);
    EXPECT_EQ(int8_t(out[0]), 64);
    EXPECT_EQ(int8_t(out[1]), -64);
    EXPECT_EQ(int8_t(out[2]), 127);
    EXPECT_EQ(int8_t(out[3]), -128);
    EXPECT_EQ(convertSamples(in, 1, 127.0f, IqFormat::U8, out), 0u);
    EXPECT_EQ(out[0], 192);
    EXPECT_EQ(out[1], 64);
    EXPECT_EQ(convertSamples(in, 2, 32767.0f, IqFormat::S16, out), 2u);
    EXPECT_EQ(int16_t(out[0] | out[1] << 8), 16384);
    EXPECT_EQ(int16_t(out[2] | out[3] << 8), -16384);
    EXPECT_EQ(int16_t(out[4] | out[5] << 8), 32767);
    EXPECT_EQ(convertSamples(in, 1, 1.0f, IqFormat::F32, out), 0u);
    float f[2];
    std::memcpy(f, out, 8);
    EXPECT_EQ(f[0], 0.5f);
    EXPECT_EQ(f[1], -0.5f);
}

// The whole chain against the independent transmitter's s8 recording
// (QPSK 1/2, pilots, roll-off 0.35, 2 samples per symbol, RMS 0.25 of full
// scale): the first two frames agree within one count.
TEST(SignalGenerator, MatchesTheIndependentRecordingWithinOneCount)
{
    const std::vector<uint8_t> recording = readTxData("dvbs2_qpsk12_normal_pilots_2frames.iq");
    TxSettings s;
    s.modcods = {4};
    s.pilots = true;
    s.tsPath = txDataPath("dvbs2_qpsk12_normal_pilots_100packets.ts");
    ASSERT_EQ(validateSettings(s), "");
    SignalGenerator generator(s);
    ASSERT_EQ(generator.error(), "");
    std::vector<cf32> samples;
    while (samples.size() < recording.size() / 2)
        generator.nextUnit(samples);
    std::vector<uint8_t> ours(recording.size());
    convertSamples(samples.data(), recording.size() / 2, float(0.25 * 127), IqFormat::S8, ours.data());
    int worst = 0;
    for (size_t i = 0; i < ours.size(); ++i)
        worst = std::max(worst, std::abs(int(int8_t(ours[i])) - int(int8_t(recording[i]))));
    EXPECT_LE(worst, 1);
}

// DVB-S rate 1/2 against the independent transmitter's s16 recording (RMS
// 0.125 of full scale, 4096 counts): within 0.25 % of the RMS everywhere.
TEST(SignalGenerator, DvbsMatchesTheIndependentRecording)
{
    const std::vector<uint8_t> recording = readTxData("dvbs_qpsk12_20000samples.iq");
    TxSettings s;
    s.standard = Standard::Dvbs;
    s.tsPath = txDataPath("dvbs_qpsk12_40packets.ts");
    ASSERT_EQ(validateSettings(s), "");
    SignalGenerator generator(s);
    ASSERT_EQ(generator.error(), "");
    const size_t n = recording.size() / 4;
    std::vector<cf32> samples;
    while (samples.size() < n)
        generator.nextUnit(samples);
    std::vector<uint8_t> ours(recording.size());
    convertSamples(samples.data(), n, float(0.125 * 32767), IqFormat::S16, ours.data());
    int worst = 0;
    for (size_t i = 0; i < 2 * n; ++i) {
        const int a = int16_t(ours[2 * i] | ours[2 * i + 1] << 8);
        const int b = int16_t(recording[2 * i] | recording[2 * i + 1] << 8);
        worst = std::max(worst, std::abs(a - b));
    }
    EXPECT_LE(worst, 10);
}

TEST(SignalGenerator, ImpossibleSettingsAreNamed)
{
    TxSettings s;
    s.sampleRate = 1300000; // below 1.35 MHz
    EXPECT_NE(validateSettings(s).find("below the occupied bandwidth"), std::string::npos);
    s.sampleRate = 2000000;
    s.frequencyOffset = 400000;
    EXPECT_NE(validateSettings(s).find("outside the sampled band"), std::string::npos);
    s.frequencyOffset = 0;
    s.frame = FrameSize::Short;
    s.modcods = {4, 17};
    EXPECT_NE(validateSettings(s).find("8PSK 9/10"), std::string::npos);
    s.modcods = {0};
    EXPECT_NE(validateSettings(s).find("dummy"), std::string::npos);
    s.modcods = {4};
    EXPECT_EQ(validateSettings(s), "");
    s.standard = Standard::Dvbs;
    s.rollOff = RollOff::R020;
    EXPECT_NE(validateSettings(s).find("0.35"), std::string::npos);

    // Multiple input streams.
    s = TxSettings();
    s.isis = {3, 7};
    EXPECT_EQ(validateSettings(s), "") << "one service name for all";
    s.isis = {3, 256};
    EXPECT_NE(validateSettings(s).find("0 to 255"), std::string::npos);
    s.isis = {3, 3};
    EXPECT_NE(validateSettings(s).find("twice"), std::string::npos);
    s.isis = {3, 7, 9};
    s.services = {"A", "B"};
    EXPECT_NE(validateSettings(s).find("every ISI"), std::string::npos);
    s.services = {"A"};
    s.isiTsPaths = {"a.ts"};
    EXPECT_NE(validateSettings(s).find("every ISI"), std::string::npos);
    s.isiTsPaths.clear();
    s.tsPath = "a.ts";
    EXPECT_NE(validateSettings(s).find("per ISI"), std::string::npos);
    s.tsPath.clear();
    s.gse = true;
    EXPECT_NE(validateSettings(s).find("GSE"), std::string::npos);
    s.gse = false;
    s.standard = Standard::Dvbs;
    EXPECT_NE(validateSettings(s).find("DVB-S2"), std::string::npos);
}

} // namespace
