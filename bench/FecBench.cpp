// DVB-S decoding speed: the Viterbi decoder (vector kernel and reference) in
// decoded Mbit/s, and the outer decoder in packets/s.
#include "../tests/fec/DvbsAlignmentRig.h"
#include "fec/DvbS1OuterDecoder.h"
#include "fec/ViterbiDecoder.h"
#include "tx/ConvEncoder.h"
#include "tx/DvbsTransmitter.h"
#include "tx/TsSource.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

// Symbols of a random stream at a rate, with noise of the given deviation
// (0.2: about 11 dB Es/N0 at the nominal amplitude).
std::vector<std::complex<float>> codedSymbols(int rate, float noise)
{
    std::mt19937 rng(1);
    std::vector<uint8_t> bytes(1 << 16);
    for (auto& b : bytes)
        b = uint8_t(rng());
    tx::ConvEncoder encoder(static_cast<tx::DvbsRate>(rate));
    std::vector<tx::cf32> symbols;
    encoder.encode(bytes.data(), int(bytes.size()), symbols);
    std::normal_distribution<float> gauss(0.0f, noise);
    for (auto& s : symbols)
        s += tx::cf32(gauss(rng), gauss(rng));
    return symbols;
}

void viterbi(benchmark::State& state, ViterbiDecoder::Kernel kernel, float noise)
{
    const int rate = int(state.range(0));
    const std::vector<std::complex<float>> symbols = codedSymbols(rate, noise);
    ViterbiDecoder decoder(kernel);
    decoder.setRateType(rate);
    std::vector<uint8_t> out;
    out.reserve(symbols.size());
    size_t bits = 0;
    for (auto _ : state) {
        out.clear();
        decoder.decodeSymbols(symbols.data(), symbols.size(), out);
        bits += 8 * out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["Mbit/s"] = benchmark::Counter(double(bits) * 1e-6, benchmark::Counter::kIsRate);
}

void BM_ViterbiVector(benchmark::State& state) { viterbi(state, ViterbiDecoder::Kernel::Vector, 0.2f); }
void BM_ViterbiVectorHeavyNoise(benchmark::State& state) { viterbi(state, ViterbiDecoder::Kernel::Vector, 0.7f); }
void BM_ViterbiReference(benchmark::State& state) { viterbi(state, ViterbiDecoder::Kernel::Reference, 0.2f); }

// The bytes that leave the inner decoder for 2000 packets, with `errors`
// byte errors in every RS word.
std::vector<uint8_t> outerStream(int errors)
{
    struct Counting : tx::TsPacketSource {
        uint32_t n = 0;
        bool nextPacket(uint8_t* p) override
        {
            p[0] = 0x47;
            for (int k = 1; k < 188; ++k)
                p[k] = uint8_t(n * 7 + uint32_t(k));
            ++n;
            return true;
        }
    } source;
    tx::DvbsTransmitter transmitter(tx::DvbsRate::R12, source);
    std::mt19937 rng(3);
    std::vector<uint8_t> stream;
    std::vector<tx::cf32> symbols;
    for (int p = 0; p < 2000; ++p) {
        symbols.clear();
        transmitter.nextPacket(symbols);
        std::array<uint8_t, 204> bytes = transmitter.lastInterleaved();
        for (int e = 0; e < errors; ++e)
            bytes[size_t(1 + rng() % 203)] ^= uint8_t(1 + rng() % 255);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    return stream;
}

void outer(benchmark::State& state, int errors)
{
    const std::vector<uint8_t> stream = outerStream(errors);
    size_t packets = 0;
    for (auto _ : state) {
        DvbS1OuterDecoder decoder([&](const uint8_t*, size_t) { ++packets; });
        decoder.processBytes(stream.data(), stream.size());
    }
    state.counters["packets/s"] = benchmark::Counter(double(packets), benchmark::Counter::kIsRate);
}

void BM_OuterDecoderClean(benchmark::State& state) { outer(state, 0); }
// Errors are spread by the deinterleaver; 4 per received 204 bytes give
// about 4 per word.
void BM_OuterDecoderFourErrors(benchmark::State& state) { outer(state, 4); }

} // namespace

BENCHMARK(BM_ViterbiVector)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViterbiVectorHeavyNoise)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViterbiReference)->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OuterDecoderClean)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OuterDecoderFourErrors)->Unit(benchmark::kMillisecond);

namespace {

// How long the alignment search takes with its default patience (or the
// second argument's packets, if not 0), from every
// start (4 turns × every phase): decoded bits until a lasting lock, and the
// same in seconds of signal at 1 Msym/s (mean and worst).
void BM_AlignmentSearch(benchmark::State& state)
{
    const int rate = int(state.range(0));
    const int period = ViterbiDecoder::periodOfRate(rate);
    const double bitsPerSymbol = 2.0 * tx::dvbsRateNumerator(tx::DvbsRate(rate)) /
                                 double(tx::dvbsRateDenominator(tx::DvbsRate(rate)));
    double total = 0, worst = 0, starts = 0, unsettled = 0;
    for (auto _ : state) {
        for (int turns = 0; turns < 4; ++turns) {
            for (int stray = 0; stray < period; ++stray) {
                const uint64_t patience =
                    state.range(1) > 0 ? uint64_t(state.range(1)) * 1632 : DvbsAlignmentSearch::kDefaultPatienceBits;
                DvbsAlignmentRig rig(rate, turns, stray, patience);
                const double bits = double(rig.runUntilSettled(uint64_t(1) << 26));
                unsettled += rig.search().settled() ? 0 : 1;
                total += bits;
                worst = std::max(worst, bits);
                starts += 1;
            }
        }
    }
    state.counters["meanBits"] = total / starts;
    state.counters["meanSec@1Msym"] = total / starts / bitsPerSymbol * 1e-6;
    state.counters["worstSec@1Msym"] = worst / bitsPerSymbol * 1e-6;
    state.counters["unsettled"] = unsettled;
}

} // namespace

BENCHMARK(BM_AlignmentSearch)->ArgsProduct({{0, 1, 2, 3, 4}, {0}})->Iterations(1)->Unit(benchmark::kMillisecond);
