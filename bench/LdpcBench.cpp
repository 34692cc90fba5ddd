// LDPC decoding speed: frames per second on one core, reference against the
// lane-group decoder, on clean frames (first check holds) and on frames just
// above the standard's QEF Es/N0 (many passes). The standard profile's 8PSK 2/3
// workload uses the test channel's 8PSK-like bit amplitudes; the scaled
// profile decodes the demapper's values of real symbols turned into channel
// LLRs (the conversion is timed with it). The APSK conversion, a max-log over
// every point per symbol, is timed alone in symbols per second.
#include "../tests/fec/FecTestFrames.h"

#include "fec/ChannelLlr.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

struct Workload {
    int code;
    fectest::Channel channel;
    double qefDb; // EN 302 307-1 Table 13
};

// QPSK 1/2 normal, 8PSK 2/3 normal, QPSK 1/4 short.
const Workload kWorkloads[] = {
    {3, fectest::Channel::Qpsk, 1.00},
    {5, fectest::Channel::Psk8, 6.62},
    {11, fectest::Channel::Qpsk, -2.35},
};

enum class Decoder { Reference, Sse41, Avx2 };

// Frames, mean passes and failures per frame, and which code at what Es/N0.
void report(benchmark::State& state, const Workload& w, double esN0, long passes, long failed)
{
    state.SetItemsProcessed(state.iterations());
    state.counters["passes"] = double(passes) / double(state.iterations());
    state.counters["failed"] = double(failed) / double(state.iterations());
    state.SetLabel(std::string(w.code < 11 ? "B" : "C") + std::to_string(w.code < 11 ? w.code + 1 : w.code - 10) +
                   " Es/N0 " + std::to_string(esN0).substr(0, 5) + " dB");
}

void decodeFrames(benchmark::State& state, Decoder which)
{
    const Workload& w = kWorkloads[state.range(0)];
    const double esN0 = w.qefDb + double(state.range(1)) / 10.0;
    fectest::TestDecoder decoder(w.code);
    const int n = fectest::frameBits(w.code);
    std::mt19937 rng(42);
    std::vector<std::vector<int8_t>> frames;
    for (int f = 0; f < 16; ++f)
        frames.push_back(
            fectest::softValues(fectest::encodeRandomFrame(w.code, rng).codeword, n, esN0, w.channel, rng));
    std::vector<uint8_t> out(static_cast<size_t>(n / 8));
    size_t next = 0;
    long passes = 0;
    long failed = 0;
    if (which == Decoder::Avx2 && LdpcDecoder::bestIsa() != LdpcDecoder::Isa::Avx2) {
        state.SkipWithError("no AVX2 on this processor");
        return;
    }
    for (auto _ : state) {
        const std::vector<int8_t>& soft = frames[next];
        next = (next + 1) % frames.size();
        const int result = which == Decoder::Reference
                               ? decoder->decodeReference(soft.data(), out.data())
                               : decoder->decodeFast(soft.data(), out.data(),
                                                     which == Decoder::Avx2 ? LdpcDecoder::Isa::Avx2
                                                                            : LdpcDecoder::Isa::Sse41);
        benchmark::DoNotOptimize(out.data());
        passes += result < 0 ? 32 : 32 - result;
        failed += result < 0;
    }
    report(state, w, esN0, passes, failed);
}

void BM_LdpcReference(benchmark::State& state) { decodeFrames(state, Decoder::Reference); }
void BM_LdpcFastSse41(benchmark::State& state) { decodeFrames(state, Decoder::Sse41); }
void BM_LdpcFastAvx2(benchmark::State& state) { decodeFrames(state, Decoder::Avx2); }

// Arguments: workload, Es/N0 above QEF in tenths of a dB (150: clean).
void workloads(benchmark::internal::Benchmark* b)
{
    for (int w = 0; w < 3; ++w)
        for (int tenths : {150, 3, 10})
            b->Args({w, tenths});
    b->Unit(benchmark::kMillisecond);
}

} // namespace

enum class Isa { Sse41, Avx2 };

void decodeScaled(benchmark::State& state, Isa isa)
{
    const Workload& w = kWorkloads[state.range(0)];
    const double esN0 = w.qefDb + double(state.range(1)) / 10.0;
    fectest::TestDecoder decoder(w.code);
    decoder->setProfile(LdpcDecoder::scaledProfile());
    const int n = fectest::frameBits(w.code);
    const uint8_t pls = fectest::plsCodeFor(w.code, w.channel == fectest::Channel::Psk8);
    std::mt19937 rng(42);
    std::vector<std::vector<int8_t>> frames;
    for (int f = 0; f < 16; ++f)
        frames.push_back(fectest::demappedValues(fectest::encodeRandomFrame(w.code, rng).codeword, pls, esN0, rng));
    std::vector<int8_t> soft(static_cast<size_t>(n));
    std::vector<uint8_t> out(static_cast<size_t>(n / 8));
    if (isa == Isa::Avx2 && LdpcDecoder::bestIsa() != LdpcDecoder::Isa::Avx2) {
        state.SkipWithError("no AVX2 on this processor");
        return;
    }
    size_t next = 0;
    long passes = 0;
    long failed = 0;
    const int budget = decoder->profile().passes;
    for (auto _ : state) {
        std::copy(frames[next].begin(), frames[next].end(), soft.begin());
        next = (next + 1) % frames.size();
        ChannelLlr::convert(soft.data(), n, pls, float(esN0));
        const int result = decoder->decodeFast(soft.data(), out.data(),
                                               isa == Isa::Avx2 ? LdpcDecoder::Isa::Avx2 : LdpcDecoder::Isa::Sse41);
        benchmark::DoNotOptimize(out.data());
        passes += result < 0 ? budget : budget - result;
        failed += result < 0;
    }
    report(state, w, esN0, passes, failed);
}

void BM_LdpcScaledSse41(benchmark::State& state) { decodeScaled(state, Isa::Sse41); }
void BM_LdpcScaledAvx2(benchmark::State& state) { decodeScaled(state, Isa::Avx2); }

// 16APSK 3/4 and 32APSK 4/5 normal frames a little above their threshold.
void BM_ApskLlr(benchmark::State& state)
{
    const int bits = int(state.range(0));
    const uint8_t pls = fectest::apskPlsCodeFor(bits == 4 ? 6 : 7, bits);
    const double esN0 = bits == 4 ? 10.8 : 14.2;
    std::mt19937 rng(3);
    const fectest::EncodedFrame frame = fectest::encodeRandomFrame(bits == 4 ? 6 : 7, rng);
    const std::vector<int8_t> demapped = fectest::demappedValues(frame.codeword, pls, esN0, rng, 0.79);
    std::vector<int8_t> values(demapped.size());
    for (auto _ : state) {
        state.PauseTiming();
        values = demapped;
        state.ResumeTiming();
        ChannelLlr::convert(values.data(), int(values.size()), pls, float(esN0));
        benchmark::DoNotOptimize(values.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(values.size() / size_t(bits)));
    state.SetLabel(bits == 4 ? "16APSK symbols" : "32APSK symbols");
}

BENCHMARK(BM_ApskLlr)->Arg(4)->Arg(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcReference)->Apply(workloads);
BENCHMARK(BM_LdpcScaledSse41)->Apply(workloads);
BENCHMARK(BM_LdpcScaledAvx2)->Apply(workloads);
BENCHMARK(BM_LdpcFastSse41)->Apply(workloads);
BENCHMARK(BM_LdpcFastAvx2)->Apply(workloads);
