// Demodulator symbols per second: DVB-S2 QPSK with the equalizer at 16 and
// 64 taps and the carrier loop on, and the DVB-S path.
#include "demod/Demodulator.h"
#include "tx/Dvbs2Transmitter.h"
#include "tx/TsBbFramer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

class PatternTs : public tx::TsPacketSource {
public:
    bool nextPacket(uint8_t* p) override
    {
        p[0] = 0x47;
        for (int i = 1; i < 188; ++i)
            p[i] = uint8_t(count * 7 + i);
        ++count;
        return true;
    }
    uint32_t count = 0;
};

// Eight frames with pilots, as the resampler hands them over, at an Es/N0
// (no noise: 0).
std::vector<int16_t> frameStream(int modcod, double esn0)
{
    PatternTs ts;
    tx::TsBbFramer framer(ts, tx::RollOff::R035);
    tx::Dvbs2Config config;
    config.modcods = {modcod};
    config.pilots = true;
    tx::Dvbs2Transmitter transmitter(config, framer);
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0, esn0 > 0 ? std::sqrt(std::pow(10, -esn0 / 10) / 2) : 0.0);
    std::vector<int16_t> out;
    for (int f = 0; f < 8; ++f) {
        std::vector<tx::cf32> symbols;
        transmitter.nextFrame(symbols);
        for (const auto& s : symbols) {
            const double re = s.real() + (esn0 > 0 ? noise(rng) : 0.0), im = s.imag() + (esn0 > 0 ? noise(rng) : 0.0);
            out.push_back(int16_t(std::lround(std::clamp(-im / Demodulator::kInputScale, -32768.0, 32767.0))));
            out.push_back(int16_t(std::lround(std::clamp(-re / Demodulator::kInputScale, -32768.0, 32767.0))));
        }
    }
    return out;
}

// QPSK 1/2 without noise.
const std::vector<int16_t>& qpskStream()
{
    static const std::vector<int16_t> stream = frameStream(4, 0);
    return stream;
}

void BM_DemodDvbs2(benchmark::State& state)
{
    const std::vector<int16_t>& in = qpskStream();
    const size_t n = in.size() / 2;
    Demodulator demod;
    demod.equalizer().setLength(int(state.range(0)));
    demod.equalizer().setMode(state.range(0) > 0 ? Equalizer::ConstantModulus : Equalizer::Off);
    demod.equalizer().reset();
    demod.loop().setEnabled(true);
    demod.loop().setGains(0.5f, 2.0f / 2048);
    std::vector<std::complex<float>> symbols(n);
    std::vector<int8_t> frame(Demodulator::kFrameBytes);
    SymbolTap tap;   // as the worker shows them
    for (auto _ : state) {
        tap.symbols.clear();
        benchmark::DoNotOptimize(demod.processS2(in.data(), n, symbols.data(), frame.data(), &tap));
        demod.events().clear();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
    state.SetLabel(state.range(0) ? "equalizer taps" : "no equalizer");
}
BENCHMARK(BM_DemodDvbs2)->Arg(0)->Arg(16)->Arg(64);

// 8PSK 2/3 at 8 dB, where the loop takes the likelihood-weighted detector.
void BM_DemodDvbs2Psk8(benchmark::State& state)
{
    static const std::vector<int16_t> in = frameStream(13, 8.0);
    const size_t n = in.size() / 2;
    Demodulator demod;
    demod.equalizer().setMode(Equalizer::Off);
    demod.loop().setEnabled(true);
    demod.loop().setGains(0.5f, 2.0f / 2048);
    std::vector<std::complex<float>> symbols(n);
    std::vector<int8_t> frame(Demodulator::kFrameBytes);
    for (auto _ : state) {
        benchmark::DoNotOptimize(demod.processS2(in.data(), n, symbols.data(), frame.data()));
        demod.events().clear();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK(BM_DemodDvbs2Psk8);

void BM_DemodDvbs(benchmark::State& state)
{
    const std::vector<int16_t>& in = qpskStream();
    const size_t n = in.size() / 2;
    Demodulator demod;
    demod.equalizer().setMode(state.range(0) ? Equalizer::ConstantModulus : Equalizer::Off);
    demod.loop().setEnabled(true);
    std::vector<std::complex<float>> symbols(n);
    SymbolTap tap;
    for (auto _ : state) {
        tap.symbols.clear();
        demod.processS1(in.data(), n, symbols.data(), &tap);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK(BM_DemodDvbs)->Arg(0)->Arg(16);

} // namespace
