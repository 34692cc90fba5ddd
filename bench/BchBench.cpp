// Outer BCH decoding speed, frames/s on one core: clean frames (the remainder
// check alone) and frames with t errors (syndromes, Berlekamp–Massey, Chien
// search), for normal and short codes; and the bit-wise reference decoder.
#include "fec/BbDescrambleTable.h"
#include "fec/BchDecoder.h"
#include "fec/Dvbs2BchCodes.h"
#include "tx/BchEncoder.h"

#include <benchmark/benchmark.h>

#include <random>
#include <set>
#include <vector>

namespace {

// A codeword of the code as the LDPC stage hands it on (XORed with the
// descrambling sequence).
std::vector<uint8_t> handedOnCodeword(int index)
{
    const tx::BchEncoder encoder(index);
    std::mt19937 rng{uint32_t(index)};
    std::vector<uint8_t> word(size_t(encoder.nbch() / 8));
    for (int i = 0; i < encoder.kbch() / 8; ++i)
        word[size_t(i)] = uint8_t(rng());
    encoder.encode(word.data(), word.data());
    for (size_t i = 0; i < word.size(); ++i)
        word[i] ^= kBbScrambleTable[i];
    return word;
}

std::vector<int> positions(int count, int nbch)
{
    std::mt19937 rng(5);
    std::set<int> chosen;
    while (int(chosen.size()) < count)
        chosen.insert(int(rng() % unsigned(nbch)));
    return {chosen.begin(), chosen.end()};
}

void bch(benchmark::State& state, bool withErrors, bool reference)
{
    const int index = int(state.range(0));
    const BchDecoder decoder(index, kBbScrambleTable.data());
    std::vector<uint8_t> frame = handedOnCodeword(index);
    const std::vector<int> errors = positions(withErrors ? decoder.t() : 0, decoder.nbch());
    int64_t corrected = 0;
    for (auto _ : state) {
        for (const int i : errors)   // the decoder put them right last time
            frame[size_t(i / 8)] ^= uint8_t(0x80 >> (i % 8));
        const int r = reference ? decoder.decodeReference(frame.data()) : decoder.decode(frame.data());
        corrected += r;
        benchmark::DoNotOptimize(frame.data());
    }
    if (corrected != int64_t(errors.size()) * int64_t(state.iterations()))
        state.SkipWithError("not every error corrected");
    state.SetLabel(kDvbs2BchCodes[index].table);
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["Mbit/s"] =
        benchmark::Counter(double(state.iterations()) * decoder.nbch() * 1e-6, benchmark::Counter::kIsRate);
}

void BM_BchClean(benchmark::State& state) { bch(state, false, false); }
void BM_BchTErrors(benchmark::State& state) { bch(state, true, false); }
void BM_BchReferenceTErrors(benchmark::State& state) { bch(state, true, true); }

// B4: normal 1/2, t = 12; B10: normal 8/9, t = 8; C4: short 1/2 (7200 bits), t = 12.
BENCHMARK(BM_BchClean)->Arg(3)->Arg(9)->Arg(14)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BchTErrors)->Arg(3)->Arg(9)->Arg(14)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BchReferenceTErrors)->Arg(3)->Arg(14)->Unit(benchmark::kMicrosecond);

} // namespace
