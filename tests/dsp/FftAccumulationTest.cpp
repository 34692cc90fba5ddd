#include "receiver/ProcessingChain.h"
#include "dsp/Fft.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

using cf = std::complex<float>;

TEST(Fft, MatchesTheDefinitionForEverySizeAlignedOrNot)
{
    for (int n : kFftSizes) {
        SCOPED_TRACE(n);
        const Fft fft(n);
        std::vector<cf> in(n + 1), out(n + 1);
        for (int k = 0; k < n; ++k)
            in[k] = cf(std::sin(0.37f * k), std::cos(1.3f * k * k / n));
        fft.transform(in.data(), out.data());
        // The unaligned plan on arrays shifted by one element.
        std::vector<cf> shiftedIn(in.begin(), in.end() - 1);
        shiftedIn.insert(shiftedIn.begin(), cf());
        std::vector<cf> shiftedOut(n + 1);
        fft.transform(shiftedIn.data() + 1, shiftedOut.data() + 1);
        for (int k : {0, 1, n / 3, n / 2, n - 1}) {
            std::complex<double> expected = 0;
            for (int m = 0; m < n; ++m)
                expected += std::complex<double>(in[m]) * std::polar(1.0, -2 * M_PI * double(k) * m / n);
            EXPECT_NEAR(out[k].real(), expected.real(), 1e-3 * n) << k;
            EXPECT_NEAR(out[k].imag(), expected.imag(), 1e-3 * n) << k;
            EXPECT_NEAR(std::abs(shiftedOut[k + 1] - out[k]), 0.0f, 1e-4f * n) << k;
        }
    }
}

namespace {

// One raw block of a complex tone at `cycles` per sample, through the chain's
// sample callback and spectrum worker.
void feedTone(ProcessingChain& chain, double cycles, int amplitude)
{
    for (int k = 0; k < ProcessingChain::kBlockSamples; ++k)
        chain.sampleCallback()(int16_t(std::lround(amplitude * std::cos(2 * M_PI * cycles * k))),
                               int16_t(std::lround(amplitude * std::sin(2 * M_PI * cycles * k))));
}

bool waitForSpectrum(ProcessingChain& chain, std::vector<float>& average)
{
    // Taking the spectrum consumes it: the wait asks once more at its end.
    bool taken = false;
    testsupport::waitUntil([&] { return taken = taken || chain.takeSpectrum(average); }, 5000);
    return taken;
}

} // namespace

TEST(Spectrum, TonesLandInTheirCentredBinsAtTheirLevel)
{
    ProcessingChain chain;
    chain.start();
    chain.setFftSize(1024);
    chain.setFftScale(1.0f);   // the float copy is then I / 32768
    std::vector<float> average;

    feedTone(chain, 1.0 / 8, 16384);   // +1/8 of the rate
    ASSERT_TRUE(waitForSpectrum(chain, average));
    ASSERT_EQ(average.size(), 1024u);
    EXPECT_EQ(std::max_element(average.begin(), average.end()) - average.begin(), 640);
    // |X| = N·(16384/32768) for the one transformed chunk, averaged over the
    // 16 chunks of the block and scaled by 16384 / (N·√N).
    EXPECT_NEAR(average[640], 512.0f * 16384 / (1024 * 32.0f) / 16, 0.05f);

    feedTone(chain, -1.0 / 8, 16384);
    ASSERT_TRUE(waitForSpectrum(chain, average));
    EXPECT_EQ(std::max_element(average.begin(), average.end()) - average.begin(), 384);

    // N = 256: a block counts 64 chunks, the first holding the transform.
    chain.setFftSize(256);
    feedTone(chain, 0.25, 16384);
    ASSERT_TRUE(waitForSpectrum(chain, average));
    ASSERT_EQ(average.size(), 256u);
    EXPECT_EQ(std::max_element(average.begin(), average.end()) - average.begin(), 128 + 64);
    EXPECT_NEAR(average[192], 128.0f * 16384 / (256 * 16.0f) / 64, 0.05f);
    chain.stop();
}

TEST(Spectrum, ZeroBlocksCountButAddNothingAndResizingKeepsValues)
{
    ProcessingChain chain;
    chain.start();
    chain.setFftSize(8192);   // two chunks per block: 8 blocks pass the threshold
    for (int b = 0; b < 8; ++b)
        feedTone(chain, 0, 0);
    std::vector<float> average;
    ASSERT_TRUE(waitForSpectrum(chain, average));
    EXPECT_TRUE(std::all_of(average.begin(), average.end(), [](float v) { return v == 0; }));
    chain.setFftSize(2048);
    EXPECT_EQ(chain.fftSize(), 2048);
    EXPECT_EQ(chain.fftWorker().getFftSize(), 2048);
    chain.stop();
}
