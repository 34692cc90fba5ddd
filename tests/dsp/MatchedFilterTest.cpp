#include "dsp/FIRWorker.h"
#include "dsp/MatchedFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

uint32_t bits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

void expectSameState(const FirAgcState& a, const FirAgcState& b)
{
    EXPECT_EQ(bits(a.agcGain), bits(b.agcGain));
    EXPECT_EQ(a.historyPos, b.historyPos);
    EXPECT_EQ(0, std::memcmp(a.historyI, b.historyI, sizeof a.historyI));
    EXPECT_EQ(0, std::memcmp(a.historyQ, b.historyQ, sizeof a.historyQ));
}

std::vector<int16_t> randomSamples(std::mt19937& rng, size_t count, int amplitude)
{
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    std::vector<int16_t> v(2 * count);
    for (auto& s : v)
        s = int16_t(std::clamp(d(rng), -32768, 32767));
    return v;
}

} // namespace

TEST(MatchedFilter, DesignIsASymmetricRrc)
{
    for (int taps = 16; taps <= 256; taps += 16) {
        const RrcDesign d = designRrc(2000000, 1000000, taps, 0.35f);
        const int n = taps / 2;
        ASSERT_EQ(int(d.even.size()), n);
        // Centre between prototype taps N/2 − 2 and N/2 − 1: q[k] = q[N − 3 − k]
        // (to the last bit of the accumulated sampling time).
        for (int p = 0; p + 1 < n; ++p)
            EXPECT_NEAR(d.even[p], d.odd[n - 2 - p], 1) << taps << " " << p;
        EXPECT_EQ(d.odd[n - 1], 0) << "the last prototype tap is 0";
        EXPECT_GT(d.coefficientSum, 32767);
    }
}

// The taps are as large as they can be while no sum of products can leave
// 32 bits: each phase's Σ|taps| at most 65535, and either the largest tap
// at full scale or the larger phase sum at the bound (less what truncating
// each tap toward zero takes off).
TEST(MatchedFilter, ScaleIsTheLargestThatCannotOverflow)
{
    for (const double spsRatio : {1.25, 2.0, 2.4, 4.8, 7.2, 9.6, 19.2, 36.4, 72.7}) {
        for (int taps = 16; taps <= 256; taps += 48) {
            for (const float beta : {0.2f, 0.35f}) {
                SCOPED_TRACE(testing::Message() << spsRatio << " samples/symbol, " << taps << " taps, β " << beta);
                const RrcDesign d = designRrc(2400000, int32_t(2400000 / spsRatio), taps, beta);
                long sumEven = 0, sumOdd = 0;
                int peak = 0;
                for (int p = 0; p < taps / 2; ++p) {
                    sumEven += std::abs(d.even[p]);
                    sumOdd += std::abs(d.odd[p]);
                    peak = std::max({peak, int(d.even[p]), -int(d.even[p]), int(d.odd[p]), -int(d.odd[p])});
                }
                const long larger = std::max(sumEven, sumOdd);
                EXPECT_LE(larger, 65535);
                EXPECT_LT(32768.0 * double(larger), 2147483648.0);
                EXPECT_TRUE(peak >= 32767 || larger > 65535 - taps / 2) << "peak " << peak << ", sum " << larger;
            }
        }
    }
}

// Full-scale input shaped to the taps at high oversampling (250 ksym/s at
// 2.4 Msps, 256 taps): every output equals the exact sum of products, taken
// in 64 bits, through the same gain stage.
TEST(MatchedFilter, FullScaleInputGivesTheExactSums)
{
    const RrcDesign d = designRrc(2400000, 250000, 256, 0.35f);
    const int n = 128;
    // The filter weighs the sample of age a with tap (a − 1) mod n (the
    // newest with the last). Periodic input whose window lines up with the
    // even taps once per period: x[t − a] = ±full scale with the sign of
    // e[(a − 1) mod n] whenever t mod n = n − 1.
    const size_t count = 4 * 512;
    std::vector<int16_t> in(2 * count);
    for (size_t t = 0; t < count; ++t) {
        const int k = int((2 * n - 2 - t % size_t(n)) % size_t(n));
        const int16_t v = d.even[size_t(k)] < 0 ? int16_t(-32768) : int16_t(32767);
        in[2 * t] = v;
        in[2 * t + 1] = int16_t(-v - 1);
    }
    for (const bool vector : {false, true}) {
        SCOPED_TRACE(vector ? "SSE4.1" : "reference");
        FirAgcState f;
        f.install(d);
        std::vector<int16_t> out(4 * count);
        (vector ? fir_agc_sse41 : fir_agc_ref)(f, in.data(), count, out.data());

        // The oracle: out[t] = Σ x[t − a]·c[(a − 1) mod n] for each phase, in 64 bits.
        FirAgcState gainOnly;
        gainOnly.install(d);
        float g = gainOnly.agcGain;
        int64_t largest = 0;
        for (size_t group = 0; group < count; group += 4) {
            const float s = gainOnly.gainNorm * g;
            for (size_t j = 0; j < 4; ++j) {
                const size_t t = group + j;
                int64_t sums[4] = {0, 0, 0, 0};
                for (int a = 0; a < n && size_t(a) <= t; ++a) {
                    const size_t k = size_t((a + n - 1) % n);
                    const int64_t xi = in[2 * (t - size_t(a))], xq = in[2 * (t - size_t(a)) + 1];
                    sums[0] += xi * d.even[k];
                    sums[1] += xq * d.even[k];
                    sums[2] += xi * d.odd[k];
                    sums[3] += xq * d.odd[k];
                }
                float v[4];
                for (int c = 0; c < 4; ++c) {
                    largest = std::max(largest, std::abs(sums[c]));
                    v[c] = float(sums[c]) * s;
                    ASSERT_EQ(out[4 * t + size_t(c)], roundSaturate16(v[c])) << "sample " << t << " lane " << c;
                }
                g = agcUpdate(g, (v[0] * v[0] + v[1] * v[1]) + (v[2] * v[2] + v[3] * v[3]));
            }
        }
        // The input did drive the sums beyond the 16-bit taps' full-scale
        // product: without the bound they would have wrapped.
        EXPECT_GT(largest, int64_t(1) << 30);
    }
}

// The filter's response to its own pulse (a raised cosine) has zeros one
// symbol apart: the design is a root-raised cosine at the right rate.
TEST(MatchedFilter, ResponseTimesItselfHasNoIntersymbolInterference)
{
    const int taps = 256;
    const RrcDesign d = designRrc(1000000, 250000, taps, 0.35f);   // 8 output samples per symbol
    std::vector<double> q(taps);
    for (int p = 0; p < taps / 2; ++p) {
        q[2 * p] = d.even[p];
        q[2 * p + 1] = d.odd[p];
    }
    std::vector<double> rc(2 * taps - 1, 0.0);
    for (int a = 0; a < taps; ++a)
        for (int b = 0; b < taps; ++b)
            rc[a + b] += q[a] * q[b];
    const size_t centre = std::max_element(rc.begin(), rc.end()) - rc.begin();
    for (int k = 1; k <= 6; ++k) {
        EXPECT_LT(std::fabs(rc[centre + 8 * k]) / rc[centre], 0.01) << k;
        EXPECT_LT(std::fabs(rc[centre - 8 * k]) / rc[centre], 0.01) << k;
    }
}

TEST(MatchedFilter, DesignLogLine)
{
    FIRWorker worker([](WorkBuffer*, WorkBuffer*) {});
    CaptureStdout();
    worker.designMatchedFilter(2000000, 1000000, 64, 0.35f);
    EXPECT_EQ(GetCapturedStdout(), "samp_rate: 2000000, sym_rate: 1000000, taps: 64, beta: 0.35\n");
}

// Vector kernels and plain reference: same output and state, bit for bit,
// for every tap count (sixteen taps a step and eight: AVX2 takes both), across
// blocks (the history wrapping and the position carried over), from quiet to
// saturating inputs and through a NaN gain.
TEST(MatchedFilter, VectorKernelsMatchTheReferenceBitForBit)
{
    using Kernel = void (*)(FirAgcState&, const int16_t*, size_t, int16_t*);
    std::vector<std::pair<const char*, Kernel>> kernels = {{"SSE4.1", fir_agc_sse41}};
    if (firAgcAvx2Available())
        kernels.emplace_back("AVX2", fir_agc_avx2);
    for (const auto& [name, kernel] : kernels) {
        SCOPED_TRACE(name);
        std::mt19937 rng(2024);
        for (int taps = 16; taps <= 256; taps += 16) {
            SCOPED_TRACE(taps);
            FirAgcState a, b;
            const RrcDesign d = designRrc(2400000, 1000000, taps, taps % 32 ? 0.2f : 0.35f);
            a.install(d);
            b.install(d);
            for (int block = 0; block < 8; ++block) {
                const size_t count = 4 * (1 + rng() % 300);
                const int amplitude = block == 3 ? 0 : (block % 2 ? 32768 : 1 + int(rng() % 4000));
                const std::vector<int16_t> in = randomSamples(rng, count, amplitude);
                std::vector<int16_t> outA(4 * count + 8, 0x5A5A), outB(4 * count + 8, 0x5A5A);
                fir_agc_ref(a, in.data(), count, outA.data());
                kernel(b, in.data(), count, outB.data());
                ASSERT_EQ(outA, outB) << "block " << block;
                EXPECT_EQ(outB[4 * count], 0x5A5A) << "nothing written past the output";
                expectSameState(a, b);
            }
        }
    }
}

TEST(MatchedFilter, ShortFilterCyclesItsHistoryPosition)
{
    MatchedFilter f;
    f.install(designRrc(2000000, 500000, 16, 0.35f));
    std::vector<int16_t> in(8 * 2, 100), out(8 * 4);
    f.process(in.data(), 4, out.data());
    EXPECT_EQ(f.state().historyPos, 4u);
    f.process(in.data(), 4, out.data());
    EXPECT_EQ(f.state().historyPos, 0u);
    f.process(in.data(), 7, out.data());   // only whole groups of four
    EXPECT_EQ(f.state().historyPos, 4u);
}

TEST(MatchedFilter, ZeroInputGivesANanGainThatIsResetAfterTheBlock)
{
    MatchedFilter f;
    f.install(designRrc(2000000, 500000, 32, 0.35f));
    std::vector<int16_t> in(2 * 16, 0), out(4 * 16, 1);
    f.process(in.data(), 16, out.data());
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(out[k], 0) << "first group: gain still finite";
    for (size_t k = 16; k < out.size(); ++k)
        EXPECT_EQ(out[k], -32768) << k;
    EXPECT_EQ(f.gain(), 1.0f);
}

// Any input level up to full scale settles at about 8192 per complex output
// sample with a negative gain.
TEST(MatchedFilter, GainSettlesFromEveryInputLevel)
{
    for (double dbfs : {-30.0, -10.0, -3.0, 0.0}) {
        SCOPED_TRACE(dbfs);
        MatchedFilter f;
        f.install(designRrc(2000000, 1000000, 64, 0.35f));
        std::mt19937 rng(5);
        std::normal_distribution<double> noise(0, 1);
        const double amplitude = 32767 * std::pow(10, dbfs / 20);
        const size_t block = 16384;
        std::vector<int16_t> in(2 * block), out(4 * block);
        double level = 0;
        for (int b = 0; b < 30; ++b) {
            // QPSK-like random phases at constant magnitude, full scale at 0 dBFS.
            for (size_t k = 0; k < block; ++k) {
                const double phase = 2 * M_PI * (rng() % 4) / 4 + M_PI / 4 + 0.05 * noise(rng);
                in[2 * k] = int16_t(std::clamp(std::lround(amplitude * std::cos(phase)), -32768l, 32767l));
                in[2 * k + 1] = int16_t(std::clamp(std::lround(amplitude * std::sin(phase)), -32768l, 32767l));
            }
            f.process(in.data(), block, out.data());
            double power = 0;
            for (size_t k = 0; k < 2 * block; ++k)
                power += double(out[2 * k]) * out[2 * k] + double(out[2 * k + 1]) * out[2 * k + 1];
            level = std::sqrt(power / (2 * block));
        }
        EXPECT_LT(f.gain(), 0.0f);
        EXPECT_NEAR(level, 8192, 8192 * 0.15);
    }
}

// From a cold start (and after silence reset the gain) every level from a
// single LSB to full scale reaches the operating level within a few blocks
// of 16384 samples, not the seconds the loop's fixed step would take.
TEST(MatchedFilter, GainAcquiresAnyLevelWithinAFewBlocks)
{
    for (double rms : {1.0, 2.0, 4.0, 33.0, 3000.0, 30000.0}) {
        SCOPED_TRACE(rms);
        MatchedFilter f;
        f.install(designRrc(2000000, 1000000, 64, 0.35f));
        std::mt19937 rng(11);
        std::normal_distribution<double> noise(0, rms / std::sqrt(2.0));
        const size_t block = 16384;
        std::vector<int16_t> in(2 * block), out(4 * block);
        auto level = [&]() {
            for (size_t k = 0; k < 2 * block; ++k)
                in[k] = int16_t(std::clamp(std::lround(noise(rng)), -32768l, 32767l));
            f.process(in.data(), block, out.data());
            double power = 0;
            for (size_t k = 0; k < 4 * block; ++k)
                power += double(out[k]) * out[k];
            return std::sqrt(power / (2 * block));
        };
        for (int b = 0; b < 4; ++b)
            level();
        // Within the coarse range, and the fine loop keeps it there.
        for (int b = 0; b < 4; ++b) {
            const double l = level();
            EXPECT_GT(l, 8192 / MatchedFilter::kCoarseRange) << b;
            EXPECT_LT(l, 8192 * MatchedFilter::kCoarseRange) << b;
            EXPECT_LT(f.gain(), 0.0f);
        }
        // Silence resets the gain; the level is found again as quickly.
        std::vector<int16_t> zeros(2 * block, 0);
        f.process(zeros.data(), block, out.data());
        EXPECT_EQ(f.gain(), 1.0f);
        for (int b = 0; b < 4; ++b)
            level();
        const double l = level();
        EXPECT_GT(l, 8192 / MatchedFilter::kCoarseRange);
        EXPECT_LT(l, 8192 * MatchedFilter::kCoarseRange);
    }
}

TEST(MatchedFilter, CoarseGainLeavesTheOperatingRangeToTheLoop)
{
    EXPECT_EQ(MatchedFilter::coarseGain(-3.0f, 8192), -3.0f);
    EXPECT_EQ(MatchedFilter::coarseGain(-3.0f, 5000), -3.0f);
    EXPECT_NEAR(MatchedFilter::coarseGain(-3.0f, 2048), -12.0f, 0.01f);
    EXPECT_NEAR(MatchedFilter::coarseGain(-3.0f, 32768), -0.75f, 0.01f);
    // A positive gain (cold start) takes the loop's sign at once.
    EXPECT_NEAR(MatchedFilter::coarseGain(1.0f, 8192), -1.0f, 0.01f);
    EXPECT_EQ(MatchedFilter::coarseGain(-2.0f, 0.0), -128.0f);
}

TEST(FIRWorkerBlocks, FullBlockAndDisabledFilter)
{
    FIRWorker worker([](WorkBuffer*, WorkBuffer*) {});
    WorkBuffer in(65536, 0), out(131072, 0);
    for (size_t k = 0; k < in.size(); k += 2)
        in[k] = uint8_t(k * 7);
    worker.process(&in, &out);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t v) { return v == 0; })) << "no filter yet";

    CaptureStdout();
    worker.designMatchedFilter(2000000, 1000000, 64, 0.35f);
    worker.process(&in, &out);
    // The last output sample was written: the whole 131072 bytes are used.
    EXPECT_FALSE(std::all_of(out.end() - 8, out.end(), [](uint8_t v) { return v == 0; }));

    // Sizes that are not whole groups, and an output that is too small.
    WorkBuffer odd(4 * 6 + 3, 1), small(20, 0), empty;
    worker.process(&odd, &small);
    worker.process(&empty, &out);
    worker.process(&odd, nullptr);
    EXPECT_EQ(small.size(), 20u);

    worker.designMatchedFilter(2000000, 1000000, 0, 0.35f);
    worker.designMatchedFilter(2000000, 0, 64, 0.35f);
    worker.designMatchedFilter(0, 1000000, 64, 0.35f);
    GetCapturedStdout();
    std::fill(out.begin(), out.end(), 0);
    worker.process(&in, &out);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t v) { return v == 0; }));
}
