// Every symbol rate a radio carries: the whole chain at 2.4 and 2 Msps
// (an RTL-SDR's first rates), from 1.7 to 73 samples per symbol, with the
// settings a person starts from (64 taps, automatic decimation), at the
// decoding threshold.
#include "receiver/ProcessingChain.h"
#include "receiver/ReceiverSettings.h"
#include "tx/SignalGenerator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

namespace {

constexpr int kFrames = 20;
// Frames the receiver may take to find the first one.
constexpr int kAcquisitionFrames = 3;

struct RateCase {
    int64_t sampleRate;
    int32_t symbolRate;
};

void PrintTo(const RateCase& c, std::ostream* os)
{
    *os << c.symbolRate << " symbols/s at " << c.sampleRate << " samples/s";
}

class Oversampling : public testing::TestWithParam<RateCase> {};

} // namespace

// QPSK 1/2 short frames with pilots at Es/N0 1.5 dB (its threshold at
// 1 Msym/s), noise white over the whole sampled band (at 33 ksym/s 17 dB
// above the signal): found within three frames, and every frame after the
// first decoded one decodes too.
TEST_P(Oversampling, EveryFrameAfterTheFirstDecodes)
{
    const RateCase rate = GetParam();
    tx::TxSettings tx;
    tx.modcods = {4};
    tx.frame = tx::FrameSize::Short;
    tx.pilots = true;
    tx.symbolRate = rate.symbolRate;
    tx.sampleRate = rate.sampleRate;
    tx.noise = true;
    tx.esn0Db = 1.5;
    tx::SignalGenerator generator(tx);
    ASSERT_EQ(generator.error(), "");
    std::vector<tx::cf32> samples;
    for (int f = 0; f < kFrames; ++f)
        generator.nextUnit(samples);

    testing::internal::CaptureStdout();
    ProcessingChain chain;
    chain.createLdpcWorkers(2);
    ReceiverSettings settings;
    settings.sampleRate = uint64_t(rate.sampleRate);
    settings.symbolRate = rate.symbolRate;
    applyReceiverSettings(chain, settings);
    std::mutex mutex;
    std::vector<int32_t> results;
    chain.setFrameResultObserver([&](const FrameTag& tag) {
        std::lock_guard<std::mutex> lock(mutex);
        results.push_back(tag.result);
    });
    chain.start();
    // Signal and noise together at an RMS of 30 % of full scale, as a
    // radio's gain control would set them: no clipping to speak of, and
    // full-scale peaks that drive the filter's sums to their limits.
    const double noiseToSignal = double(rate.sampleRate) / double(rate.symbolRate) / std::pow(10.0, tx.esn0Db / 10);
    const float scale = float(0.3 * 32768.0 / std::sqrt(1.0 + noiseToSignal));
    for (const tx::cf32& s : samples)
        chain.sampleCallback()(int16_t(std::lround(s.real() * scale)), int16_t(std::lround(s.imag() * scale)));
    for (int k = 0; k < 2 * ProcessingChain::kBlockSamples; ++k)   // the last frame's successor's header
        chain.sampleCallback()(0, 0);
    chain.waitIdle(std::chrono::seconds(30));
    chain.stop();
    testing::internal::GetCapturedStdout();

    std::lock_guard<std::mutex> lock(mutex);
    size_t first = 0;
    while (first < results.size() && results[first] < 0)
        ++first;
    ASSERT_LT(first, results.size()) << "no frame decoded";
    EXPECT_LE(first, size_t(kAcquisitionFrames)) << "frames before the first decoded one";
    for (size_t k = first; k < results.size(); ++k)
        EXPECT_GE(results[k], 0) << "frame " << k << " of " << results.size();
    EXPECT_GE(results.size(), size_t(kFrames - 1)) << "frames never found";
}

static std::string caseName(const testing::TestParamInfo<RateCase>& info)
{
    return std::to_string(info.param.symbolRate / 1000) + "ksyms";
}

INSTANTIATE_TEST_SUITE_P(Rtlsdr24Msps, Oversampling,
                         testing::Values(RateCase{2400000, 1200000}, RateCase{2400000, 1000000},
                                         RateCase{2400000, 500000}, RateCase{2400000, 333000},
                                         RateCase{2400000, 250000}, RateCase{2400000, 125000},
                                         RateCase{2400000, 66000}, RateCase{2400000, 33000}),
                         caseName);
INSTANTIATE_TEST_SUITE_P(Rtlsdr2Msps, Oversampling,
                         testing::Values(RateCase{2000000, 1200000}, RateCase{2000000, 1000000},
                                         RateCase{2000000, 500000}, RateCase{2000000, 333000},
                                         RateCase{2000000, 250000}, RateCase{2000000, 125000},
                                         RateCase{2000000, 66000}, RateCase{2000000, 33000}),
                         caseName);
