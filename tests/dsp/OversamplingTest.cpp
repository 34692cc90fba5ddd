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

struct RunResult {
    std::vector<int32_t> frames;      // each released frame's result, in order
    SignalQualityReading quality;     // after the last frame
};

// `frames` QPSK 1/2 short frames with pilots at `esn0Db`, noise white over
// the whole sampled band, through a chain with the default settings.
RunResult receive(const RateCase& rate, double esn0Db, int frames = kFrames, double offsetHz = 0)
{
    tx::TxSettings tx;
    tx.modcods = {4};
    tx.frame = tx::FrameSize::Short;
    tx.pilots = true;
    tx.symbolRate = rate.symbolRate;
    tx.sampleRate = rate.sampleRate;
    tx.frequencyOffset = offsetHz;
    tx.noise = true;
    tx.esn0Db = esn0Db;
    tx::SignalGenerator generator(tx);
    EXPECT_EQ(generator.error(), "");
    std::vector<tx::cf32> samples;
    for (int f = 0; f < frames; ++f)
        generator.nextUnit(samples);

    testing::internal::CaptureStdout();
    ProcessingChain chain;
    chain.createLdpcWorkers(2);
    ReceiverSettings settings;
    settings.sampleRate = uint64_t(rate.sampleRate);
    settings.symbolRate = rate.symbolRate;
    settings.offsetHz = offsetHz;
    applyReceiverSettings(chain, settings);
    std::mutex mutex;
    RunResult run;
    chain.setFrameResultObserver([&](const FrameTag& tag) {
        std::lock_guard<std::mutex> lock(mutex);
        run.frames.push_back(tag.result);
    });
    chain.start();
    // Signal and noise together at an RMS of 30 % of full scale, as a
    // radio's gain control would set them: no clipping to speak of, and
    // full-scale peaks that drive the filter's sums to their limits.
    const float scale = float(0.3 * 32768.0 / std::sqrt(1.0 + generator.noiseToSignalPower()));
    // Fed as the file and network inputs feed it, never faster than the
    // chain takes it: flooded on a busy machine, it drops blocks, and its
    // band search reads spectra many blocks behind the demodulator.
    for (size_t k = 0; k < samples.size(); ++k) {
        chain.sampleCallback()(int16_t(std::lround(samples[k].real() * scale)),
                               int16_t(std::lround(samples[k].imag() * scale)));
        if (k % ProcessingChain::kBlockSamples == 0)
            while (!chain.readyForInput())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    chain.waitIdle(std::chrono::seconds(30));
    run.quality = chain.demodWorker().signalQuality();
    for (int k = 0; k < 2 * ProcessingChain::kBlockSamples; ++k)   // the last frame's successor's header
        chain.sampleCallback()(0, 0);
    chain.waitIdle(std::chrono::seconds(30));
    chain.stop();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(chain.droppedBlocks(), 0u);
    std::lock_guard<std::mutex> lock(mutex);
    return run;
}

} // namespace

// QPSK 1/2 at Es/N0 1.5 dB (its threshold at 1 Msym/s; at 33 ksym/s the
// noise is 17 dB above the signal): found within three frames, and every
// frame after the first decoded one decodes too.
TEST_P(Oversampling, EveryFrameAfterTheFirstDecodes)
{
    const RunResult run = receive(GetParam(), 1.5);
    const std::vector<int32_t>& results = run.frames;
    size_t first = 0;
    while (first < results.size() && results[first] < 0)
        ++first;
    ASSERT_LT(first, results.size()) << "no frame decoded";
    for (size_t k = first; k < results.size(); ++k)
        EXPECT_GE(results[k], 0) << "frame " << k << " of " << results.size();
    // Frames before the first decoded one, found or not (the last one may
    // wait for a successor's header).
    const size_t decodedRun = results.size() - first;
    EXPECT_GE(decodedRun + size_t(kAcquisitionFrames), size_t(kFrames - 1)) << "frames lost before the lock";
}

// A narrow carrier off centre in a wide band reads the quality it has: the
// matched filter sees a few samples per symbol, not a symbol's worth of
// taps spread over 64 samples.
TEST(Oversampling, ANarrowCarrierInAWideBandKeepsItsMer)
{
    for (const RateCase rate : {RateCase{8000000, 125000}, RateCase{10000000, 66000}}) {
        SCOPED_TRACE(rate.symbolRate);
        // The lock, and with it the reading, takes some twenty frames.
        const RunResult run = receive(rate, 6.0, 40, 1.5e6);
        ASSERT_TRUE(run.quality.merValid);
        EXPECT_NEAR(run.quality.merDb, 6.0, 0.3);
    }
}

namespace {

std::string caseName(const testing::TestParamInfo<RateCase>& info)
{
    return std::to_string(info.param.symbolRate / 1000) + "ksyms";
}

// The rates amateur and broadcast carriers use, from the lowest to near
// the highest the sample rate carries.
std::vector<RateCase> symbolRateGrid(int64_t sampleRate)
{
    std::vector<RateCase> grid;
    for (const int32_t symbolRate : {1200000, 1000000, 500000, 333000, 250000, 125000, 66000, 33000})
        grid.push_back({sampleRate, symbolRate});
    return grid;
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Rtlsdr24Msps, Oversampling, testing::ValuesIn(symbolRateGrid(2400000)), caseName);
INSTANTIATE_TEST_SUITE_P(Rtlsdr2Msps, Oversampling, testing::ValuesIn(symbolRateGrid(2000000)), caseName);
