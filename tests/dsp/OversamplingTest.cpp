// Low symbol rates from a fast device: the whole chain at 2.4 Msps, an
// RTL-SDR's first rate, from 2.4 to 73 samples per symbol. The matched
// filter's sums grow with the oversampling; none may wrap.
#include "receiver/ProcessingChain.h"
#include "receiver/ReceiverSettings.h"
#include "tx/SignalGenerator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

namespace {

constexpr int64_t kSampleRate = 2400000;
constexpr int kFrames = 20;

struct RateCase {
    int32_t symbolRate;
    int acquisitionFrames;   // frames the receiver may take to find the first one
};

void PrintTo(const RateCase& c, std::ostream* os)
{
    *os << c.symbolRate << " symbols/s";
}

class Oversampling : public testing::TestWithParam<RateCase> {};

} // namespace

// QPSK 1/2 short frames with pilots at Es/N0 6 dB, noise white over the
// whole sampled band (at 33 ksym/s 18 dB above the signal), 256 taps: every
// frame after the first decoded one decodes too.
TEST_P(Oversampling, EveryFrameAfterTheFirstDecodes)
{
    const RateCase rate = GetParam();
    tx::TxSettings tx;
    tx.modcods = {4};
    tx.frame = tx::FrameSize::Short;
    tx.pilots = true;
    tx.symbolRate = rate.symbolRate;
    tx.sampleRate = kSampleRate;
    tx.noise = true;
    tx.esn0Db = 6.0;
    tx::SignalGenerator generator(tx);
    ASSERT_EQ(generator.error(), "");
    std::vector<tx::cf32> samples;
    for (int f = 0; f < kFrames; ++f)
        generator.nextUnit(samples);

    testing::internal::CaptureStdout();
    ProcessingChain chain;
    chain.createLdpcWorkers(2);
    ReceiverSettings settings;
    settings.sampleRate = uint64_t(kSampleRate);
    settings.symbolRate = rate.symbolRate;
    settings.filterTaps = 256;
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
    const double noiseToSignal = double(kSampleRate) / double(rate.symbolRate) / std::pow(10.0, tx.esn0Db / 10);
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
    for (size_t k = first; k < results.size(); ++k)
        EXPECT_GE(results[k], 0) << "frame " << k << " of " << results.size();
    const size_t decoded = results.size() - first;
    EXPECT_GE(decoded + size_t(rate.acquisitionFrames), size_t(kFrames - 1))
        << "frames lost after the first decoded one";
}

INSTANTIATE_TEST_SUITE_P(Rtlsdr24Msps, Oversampling,
                         testing::Values(RateCase{1000000, 4}, RateCase{500000, 4}, RateCase{333000, 4},
                                         RateCase{250000, 4}, RateCase{125000, 4}, RateCase{66000, 4},
                                         RateCase{33000, 12}),
                         [](const testing::TestParamInfo<RateCase>& info) {
                             return std::to_string(info.param.symbolRate / 1000) + "ksyms";
                         });
