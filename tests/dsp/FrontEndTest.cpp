// The whole front end on a realistic signal: RRC-shaped QPSK with a timing
// offset, a symbol rate off by 200 ppm, a carrier offset and noise, entering
// through the sample callback.
#include "receiver/ProcessingChain.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

using cd = std::complex<double>;

// Root-raised-cosine pulse, unit energy per symbol period T = 1.
double rrc(double t, double beta)
{
    const double eps = 1e-9;
    if (std::fabs(t) < eps)
        return 1 - beta + 4 * beta / M_PI;
    if (std::fabs(std::fabs(t) - 1 / (4 * beta)) < eps)
        return beta / std::sqrt(2) *
               ((1 + 2 / M_PI) * std::sin(M_PI / (4 * beta)) + (1 - 2 / M_PI) * std::cos(M_PI / (4 * beta)));
    return (std::sin(M_PI * t * (1 - beta)) + 4 * beta * t * std::cos(M_PI * t * (1 + beta))) /
           (M_PI * t * (1 - 16 * beta * beta * t * t));
}

struct Signal {
    std::vector<int16_t> iq;
};

// QPSK at `symbolRate`, sampled at `sampleRate`, delayed by `delay` symbols,
// turned by a carrier at `carrier` Hz, with noise at Es/N0 = `esn0` dB.
Signal makeQpsk(double sampleRate, double symbolRate, double delay, double carrier, double esn0, size_t samples)
{
    std::mt19937 rng(11);
    const double sps = sampleRate / symbolRate;
    const size_t symbols = size_t(samples / sps) + 40;
    std::vector<cd> data(symbols);
    for (auto& s : data)
        s = cd(rng() % 2 ? 1 : -1, rng() % 2 ? 1 : -1) / std::sqrt(2.0);

    std::vector<cd> x(samples);
    double power = 0;
    const int span = 10;
    for (size_t n = 0; n < samples; ++n) {
        const double t = n / sps - delay;   // in symbols
        const long centre = std::lround(t);
        cd v = 0;
        for (long k = centre - span; k <= centre + span; ++k)
            if (k >= 0 && size_t(k) < symbols)
                v += data[size_t(k)] * rrc(t - double(k), 0.35);
        v *= std::polar(1.0, 2 * M_PI * carrier * n / sampleRate + 0.4);
        x[n] = v;
        power += std::norm(v);
    }
    power /= double(samples);
    // Es/N0 = P·T / (σ²/fs) = P·sps / σ².
    std::normal_distribution<double> noise(0, std::sqrt(power * sps / std::pow(10, esn0 / 10) / 2));
    const double scale = 8000 / std::sqrt(power);
    Signal s;
    s.iq.resize(2 * samples);
    for (size_t n = 0; n < samples; ++n) {
        s.iq[2 * n] = int16_t(std::lround(scale * (x[n].real() + noise(rng))));
        s.iq[2 * n + 1] = int16_t(std::lround(scale * (x[n].imag() + noise(rng))));
    }
    return s;
}

// Error-vector magnitude of QPSK symbols after removing a common rotation
// and scale (the front end has no carrier loop: a fixed phase remains).
double qpskEvm(const std::vector<cd>& symbols)
{
    cd fourth = 0;
    for (const cd& s : symbols)
        fourth += std::pow(s, 4);
    const cd derotate = std::polar(1.0, -std::arg(-fourth) / 4);   // QPSK at ±45°: s⁴ is negative real
    double magnitude = 0;
    for (const cd& s : symbols)
        magnitude += std::abs(s);
    magnitude /= double(symbols.size());
    double error = 0;
    for (const cd& s : symbols) {
        const cd v = s * derotate / magnitude;
        const cd ideal(v.real() >= 0 ? M_SQRT1_2 : -M_SQRT1_2, v.imag() >= 0 ? M_SQRT1_2 : -M_SQRT1_2);
        error += std::norm(v - ideal);
    }
    return std::sqrt(error / double(symbols.size()));
}

} // namespace

class FrontEnd : public testing::TestWithParam<double> {};

TEST_P(FrontEnd, RecoversQpskSymbolsAndTheirRate)
{
    const double sampleRate = GetParam() * 1000000;   // samples per symbol × 1 Msym/s
    const double nominalRate = 1000000;
    const double trueRate = nominalRate * (1 + 200e-6);
    const double carrier = 3000;
    const int blocks = 24;
    const Signal signal = makeQpsk(sampleRate, trueRate, 0.37, carrier, 20,
                                   size_t(blocks) * ProcessingChain::kBlockSamples);

    ProcessingChain chain;
    chain.basebandWorker().setPhaseIncrement(carrier / sampleRate);
    chain.firWorker().designMatchedFilter(uint64_t(sampleRate), int32_t(nominalRate), 64, 0.35f);
    chain.resampleWorker().setTEDGain(6);
    chain.resampleWorker().setTEDDamping(15);
    chain.resampleWorker().setSymbolRate(2 * sampleRate, nominalRate);

    std::mutex mutex;
    std::vector<cd> symbols;
    std::vector<int64_t> tracked;
    chain.setSymbolObserver([&](const WorkBuffer& block) {
        const auto* s = reinterpret_cast<const int16_t*>(block.data());
        std::lock_guard<std::mutex> lock(mutex);
        for (size_t k = 0; k < block.size() / 4; ++k)
            symbols.emplace_back(s[2 * k + 1], s[2 * k]);   // components come swapped
        tracked.push_back(chain.resampleWorker().trackedStep());
    });
    chain.start();
    // Acquire with Kp = 1/64, then track with Kp = 1/1024 as a user would,
    // so single readings of step + correction jitter less.
    const size_t total = signal.iq.size() / 2;
    for (size_t n = 0; n < total; ++n) {
        if (n == total * 2 / 3)
            chain.resampleWorker().setTEDGain(10);
        chain.sampleCallback()(signal.iq[2 * n], signal.iq[2 * n + 1]);
    }
    testsupport::waitUntil([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return tracked.size() == size_t(blocks);
    });
    chain.stop();

    ASSERT_EQ(tracked.size(), size_t(blocks));
    // One symbol per symbol period.
    const double expectedSymbols = blocks * ProcessingChain::kBlockSamples / (sampleRate / trueRate);
    EXPECT_NEAR(double(symbols.size()), expectedSymbols, 50);

    // The last third, long after the loops have settled.
    const std::vector<cd> settled(symbols.end() - long(symbols.size() / 3), symbols.end());
    // Es/N0 = 20 dB alone gives 10 %; the 64-tap filter, the 16-bit arithmetic,
    // the 256-step mixer table and the timing jitter stay within 5 % more.
    const double evm = qpskEvm(settled);
    EXPECT_LT(evm, 0.15);

    const size_t last = 6;
    double averageStep = 0;
    for (size_t k = tracked.size() - last; k < tracked.size(); ++k)
        averageStep += double(tracked[k]);
    averageStep /= double(last);
    const double trackedRate = averageStep * (2 * sampleRate) / 8589934592.0;   // step = 2^33·rate/inputRate
    EXPECT_NEAR(trackedRate / trueRate - 1, 0, 100e-6) << "tracked " << trackedRate;
    RecordProperty("evm_percent", std::to_string(evm * 100));
    std::printf("front end: EVM %.2f %%, tracked rate %.1f sym/s (true %.1f)\n", evm * 100, trackedRate, trueRate);
}

INSTANTIATE_TEST_SUITE_P(SamplesPerSymbol, FrontEnd, testing::Values(2.0, 2.3, 2.6),
                         [](const testing::TestParamInfo<double>& info) {
                             const int tenths = int(std::lround(info.param * 10));
                             return std::to_string(tenths / 10) + "p" + std::to_string(tenths % 10);
                         });
