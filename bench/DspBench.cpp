// Front-end stages per input sample: baseband mixer, matched filter,
// resampler (vector kernel and per-sample path), FFT per size.
#include "dsp/BasebandMixer.h"
#include "dsp/Fft.h"
#include "dsp/MatchedFilter.h"
#include "dsp/SymbolResampler.h"

#include <benchmark/benchmark.h>

#include <complex>
#include <random>
#include <vector>

namespace {

constexpr size_t kBlock = 16384;

std::vector<int16_t> noise(size_t samples, int amplitude)
{
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    std::vector<int16_t> v(2 * samples);
    for (auto& s : v)
        s = int16_t(d(rng));
    return v;
}

void BM_BasebandMixer(benchmark::State& state)
{
    BasebandMixer mixer;
    // A slow offset, and one that wraps the phase every few samples.
    mixer.phaseIncrement = state.range(0) == 0 ? 0.0123 : -0.37;
    std::vector<int16_t> iq = noise(kBlock, 8000);
    for (auto _ : state) {
        mixer.process(iq.data(), kBlock);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kBlock));
}
BENCHMARK(BM_BasebandMixer)->Arg(0)->Arg(1);

void BM_MatchedFilter(benchmark::State& state)
{
    MatchedFilter filter;
    filter.install(designRrc(2000000, 1000000, int(state.range(0)), 0.35f));
    const std::vector<int16_t> in = noise(kBlock, 8000);
    std::vector<int16_t> out(4 * kBlock);
    for (auto _ : state) {
        filter.process(in.data(), kBlock, out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kBlock));
}
BENCHMARK(BM_MatchedFilter)->Arg(32)->Arg(64)->Arg(128);

void BM_Resampler(benchmark::State& state)
{
    SymbolResampler r;
    r.setSymbolRate(4800000, 1000000);
    const std::vector<int16_t> in = noise(2 * kBlock, 8000);
    std::vector<int16_t> out(4 * kBlock);
    const bool perSample = state.range(0) != 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(r.process(in.data(), 2 * kBlock, out.data(), perSample));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(2 * kBlock));
    state.SetLabel(perSample ? "per-sample path" : "vector kernel");
}
BENCHMARK(BM_Resampler)->Arg(0)->Arg(1);

void BM_Fft(benchmark::State& state)
{
    const int n = int(state.range(0));
    const Fft fft(n);
    std::vector<std::complex<float>> in(kBlock, {0.5f, -0.25f}), out(kBlock);
    for (auto _ : state) {
        fft.transform(in.data(), out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_Fft)->Arg(256)->Arg(512)->Arg(1024)->Arg(2048)->Arg(4096)->Arg(8192);

} // namespace
