#include "dsp/ResampleWorker.h"
#include "dsp/SymbolResampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

void expectSameState(const ResamplerState& a, const ResamplerState& b)
{
    EXPECT_EQ(0, std::memcmp(a.delay, b.delay, sizeof a.delay));
    EXPECT_EQ(0, std::memcmp(a.history[0], b.history[0], 3 * sizeof a.history[0])) << "y[k], y[k-1], y[k-2]";
    EXPECT_EQ(a.phase, b.phase);
    EXPECT_EQ(a.integrator, b.integrator);
    EXPECT_EQ(a.correction, b.correction);
    EXPECT_EQ(a.toggle, b.toggle);
}

std::vector<int16_t> randomSamples(std::mt19937& rng, size_t count, int amplitude)
{
    std::uniform_int_distribution<int> d(-amplitude, amplitude - 1);
    std::vector<int16_t> v(2 * count);
    for (auto& s : v)
        s = int16_t(d(rng));
    return v;
}

} // namespace

// Random steps (μ over its whole range), negative and positive corrections,
// loop gains from gentle to violent, quiet to full-scale input: the vector
// kernel and its reference agree on every symbol and on the state.
TEST(SymbolResampler, VectorKernelMatchesTheReferenceBitForBit)
{
    std::mt19937 rng(77);
    for (int run = 0; run < 60; ++run) {
        SCOPED_TRACE(run);
        ResamplerState a;
        a.step = uint32_t(rng());
        if (run % 3 == 0)
            a.step = 0x80000000u + uint32_t(rng() % 0x10000000u) - 0x08000000u;   // about 2 per interpolant
        a.correction = int32_t(rng()) >> (run % 8);
        a.gainShift = int32_t(rng() % 13);
        a.dampingShift = int32_t(rng() % 21);
        a.phase = uint32_t(rng());
        ResamplerState b = a;
        for (int block = 0; block < 4; ++block) {
            const size_t count = rng() % 3000;
            const int amplitude = (run + block) % 2 ? 32768 : 3000;
            const std::vector<int16_t> in = randomSamples(rng, count, amplitude);
            std::vector<int16_t> outA(2 * count + 4, 0x1234), outB(2 * count + 4, 0x1234);
            const size_t na = resample_ref(a, in.data(), count, outA.data());
            const size_t nb = resample_sse41(b, in.data(), count, outB.data());
            ASSERT_EQ(na, nb) << "block " << block;
            ASSERT_EQ(outA, outB) << "block " << block;
            EXPECT_LE(na, count);
            expectSameState(a, b);
        }
    }
}

// Without overflow the per-sample path computes the same symbols; it picks
// the other interpolant parity, so it starts with the toggle inverted.
TEST(SymbolResampler, PerSamplePathAgreesWhereNothingOverflows)
{
    std::mt19937 rng(3);
    ResamplerState a;
    a.setSymbolRate(2000000, 480000);
    a.gainShift = 8;
    a.dampingShift = 16;
    ResamplerState b = a;
    b.toggle = ~0;
    for (int block = 0; block < 5; ++block) {
        const std::vector<int16_t> in = randomSamples(rng, 4000, 2000);
        std::vector<int16_t> outA(8000), outB(8000);
        const size_t na = resample_ref(a, in.data(), 4000, outA.data());
        const size_t nb = resample_per_sample(b, in.data(), 4000, outB.data());
        ASSERT_EQ(na, nb);
        outA.resize(2 * na);
        outB.resize(2 * nb);
        EXPECT_EQ(outA, outB);
        EXPECT_EQ(a.correction, b.correction);
    }
}

TEST(SymbolResampler, NoStepNoSymbols)
{
    SymbolResampler r;
    std::vector<int16_t> in(2000, 500), out(2000);
    EXPECT_EQ(r.process(in.data(), 1000, out.data()), 0u);
    EXPECT_EQ(r.process(in.data(), 1000, out.data(), true), 0u);
}

// Away from two input samples per interpolant the symbols must still fall
// on an even grid: a slow tone resampled with the loop held still turns by
// the same angle from each symbol to the next. With the fractional position
// read as if the step were 2^31 they strayed by up to a third of a sample,
// in a pattern that repeats with the step (at 1.25 samples per symbol at
// the device, nothing decoded).
TEST(SymbolResampler, SymbolsFallOnAnEvenGridAtAnyStep)
{
    const double cyclesPerSample = 0.04;
    std::vector<int16_t> in;
    for (int n = 0; n < 6000; ++n) {
        const double angle = 2 * M_PI * cyclesPerSample * n;
        in.push_back(int16_t(std::lround(20000 * std::cos(angle))));
        in.push_back(int16_t(std::lround(20000 * std::sin(angle))));
    }
    // 1.25, 1.6, 2 (the nominal) and 3.3 input samples per interpolant.
    for (double perInterpolant : {1.25, 1.6, 2.0, 3.3}) {
        for (auto kernel : {resample_ref, resample_sse41, resample_per_sample}) {
            SCOPED_TRACE(perInterpolant);
            ResamplerState r;
            r.step = uint32_t(std::ldexp(1.0, 32) / perInterpolant) & ~1u;
            r.gainShift = r.dampingShift = 31;   // the loop all but still
            std::vector<int16_t> out(in.size());
            const size_t n = kernel(r, in.data(), in.size() / 2, out.data());
            ASSERT_GT(n, 800u);
            const double expected = 2 * M_PI * cyclesPerSample * 2 * std::ldexp(1.0, 32) / r.step;
            double worst = 0;
            for (size_t k = 10; k + 1 < n; ++k) {   // past the delay line's filling
                const double a0 = std::atan2(out[2 * k], out[2 * k + 1]);
                const double a1 = std::atan2(out[2 * k + 2], out[2 * k + 3]);
                const double turn = std::remainder(a1 - a0 - expected, 2 * M_PI);
                worst = std::max(worst, std::fabs(turn));
            }
            // 0.01 rad is a 25th of a sample at this tone; the cubic's own
            // error at 0.04 cycles per sample is well inside it.
            EXPECT_LT(worst, 0.01);
        }
    }
}

TEST(SymbolResampler, HalfStepGivesOneSymbolPerFourSamplesAtMuZero)
{
    for (bool perSample : {false, true}) {
        ResamplerState r;
        r.step = 0x80000000u;
        // Start settled on the constant, so the timing error is 0 throughout.
        for (int k = 0; k < 4; ++k) {
            r.delay[k][0] = 100;
            r.delay[k][1] = -200;
            r.history[k][0] = -200;
            r.history[k][1] = 98;
        }
        std::vector<int16_t> in;
        for (int k = 0; k < 400; ++k) {
            in.push_back(100);
            in.push_back(-200);
        }
        std::vector<int16_t> out(800);
        const size_t n = (perSample ? resample_per_sample : resample_sse41)(r, in.data(), 400, out.data());
        EXPECT_EQ(n, 100u);
        EXPECT_EQ(r.phase, 0u) << "μ stays 0";
        // C0 = 2·((p·32767) >> 16): 100 → 98, −200 → −200; output as (b', a').
        for (size_t k = 0; k < n; ++k) {
            EXPECT_EQ(out[2 * k], -200) << k;
            EXPECT_EQ(out[2 * k + 1], 98) << k;
        }
    }
}

TEST(SymbolResampler, SymbolRateSetsAnEvenStepAndClearsTheLoop)
{
    ResamplerState r;
    r.phase = 123;
    r.integrator = 5;
    r.correction = -7;
    r.toggle = ~0;
    r.setSymbolRate(4800000, 1000000);
    EXPECT_EQ(r.step, 2u * uint32_t(1000000 * (4294967296.0 / 4800000)));
    EXPECT_EQ(r.step % 2, 0u);
    EXPECT_EQ(r.phase, 0u);
    EXPECT_EQ(r.integrator, 0);
    EXPECT_EQ(r.correction, 0);
    EXPECT_EQ(r.toggle, ~0) << "the toggle is kept";

    r.setSymbolRate(0, 1000000);   // no input rate: no symbols, no crash
    EXPECT_EQ(r.step, 0u);
    r.setSymbolRate(2000000, -5);
    EXPECT_EQ(r.step, 0u);
}

TEST(ResampleWorkerBlocks, OutputIsResizedToTheSymbols)
{
    ResampleWorker worker([](WorkBuffer*, WorkBuffer*) {});
    CaptureStdout();
    worker.setTEDGain(6);
    worker.setTEDDamping(15);
    worker.setTEDGain(1e9f);   // far out of range: taken without harm
    GetCapturedStdout();
    worker.setSymbolRate(4000000, 1000000);
    EXPECT_EQ(worker.trackedStep(), int64_t(0x80000000u));

    WorkBuffer in(4 * 1000, 0), out(4 * 1000, 0);
    worker.process(&in, &out);
    EXPECT_EQ(out.size(), 4u * 250);

    WorkBuffer odd(4 * 7 + 3, 0), room(4 * 2, 0), empty;
    worker.process(&odd, &room);
    EXPECT_LE(room.size(), 8u);
    WorkBuffer out2(16, 0);
    worker.process(&empty, &out2);
    EXPECT_EQ(out2.size(), 0u);
    worker.setDebugMode(true);
    WorkBuffer out3(4 * 1000, 0);
    worker.process(&in, &out3);
    EXPECT_EQ(out3.size(), 4u * 250);
}

// Noise drives the timing error at random: with a fast integrator it would
// walk the tracked rate anywhere. The frequency term stays within ±1 % of
// the step, in every path, and relaxing pulls it back toward the nominal
// rate.
TEST(SymbolResampler, FrequencyTermIsBoundedAndRelaxes)
{
    for (int path = 0; path < 3; ++path) {
        SCOPED_TRACE(path);
        ResamplerState r;
        r.setSymbolRate(4000000, 1000000);
        r.dampingShift = 2;   // a loop far too fast: the walk is large
        std::mt19937 rng(3);
        const auto in = randomSamples(rng, 1 << 16, 20000);
        std::vector<int16_t> out(in.size());
        int32_t largest = 0;
        for (int b = 0; b < 8; ++b) {
            const size_t n = in.size() / 2;
            if (path == 0)
                resample_sse41(r, in.data(), n, out.data());
            else if (path == 1)
                resample_ref(r, in.data(), n, out.data());
            else
                resample_per_sample(r, in.data(), n, out.data());
            largest = std::max(largest, std::abs(r.integrator));
            EXPECT_LE(std::abs(r.integrator), r.integratorLimit()) << b;
        }
        EXPECT_EQ(r.integratorLimit(), int32_t(r.step / 100));
        EXPECT_GT(largest, r.integratorLimit() / 2) << "the walk reached the bound";
    }

    ResamplerState r;
    r.setSymbolRate(4000000, 1000000);
    r.integrator = r.integratorLimit();
    r.correction = r.integrator + 100;
    r.relax(ResamplerState::kRelaxSymbols / 2);
    EXPECT_NEAR(r.integrator, r.integratorLimit() / 2, 1);
    EXPECT_EQ(r.correction, r.integrator + 100) << "the proportional part stays";
    r.relax(10 * ResamplerState::kRelaxSymbols);
    EXPECT_EQ(r.integrator, 0);
}

// The worker relaxes the loop only while the chain is not receiving.
TEST(SymbolResampler, WorkerRelaxesOnlyWhileNotReceiving)
{
    CaptureStdout();
    ResampleWorker worker([](WorkBuffer*, WorkBuffer*) {});
    worker.setSymbolRate(4000000, 1000000);
    worker.setTEDDamping(2);
    GetCapturedStdout();
    auto runBlock = [&](const std::vector<int16_t>& samples) {
        WorkBuffer in(samples.size() * 2), out(samples.size() * 2);
        std::memcpy(in.data(), samples.data(), in.size());
        worker.process(&in, &out);
        return worker.trackedStep() - worker.nominalStep();
    };
    // Noise through a fast loop leaves the frequency term far out.
    std::mt19937 rng(9);
    worker.setReceiving(true);
    int64_t offset = 0;
    for (int b = 0; b < 8 && std::llabs(offset) < 1000000; ++b)
        offset = runBlock(randomSamples(rng, 16384, 20000));
    ASSERT_GT(std::llabs(offset), 1000000);
    // Silence: no timing error, so only the relaxing moves it.
    CaptureStdout();
    worker.setTEDDamping(31);
    worker.setTEDGain(31);
    GetCapturedStdout();
    const std::vector<int16_t> silence(2 * 16384, 0);
    const int64_t held = runBlock(silence);
    EXPECT_EQ(runBlock(silence), held) << "kept while receiving";
    worker.setReceiving(false);
    int64_t last = held;
    for (int b = 0; b < 80; ++b)   // 4096 symbols a block
        last = runBlock(silence);
    EXPECT_LT(std::llabs(last), std::llabs(held) / 50) << "pulled back while not receiving";
}
