// Output rate of the test transmitter on one core: samples per second of the
// whole chain (built-in TS, coding, framing, RRC at 2 samples per symbol,
// channel, s16 conversion). Live use at 10 Msps needs more than 1e7 items/s.
#include "tx/SampleFormat.h"
#include "tx/SignalGenerator.h"

#include <benchmark/benchmark.h>

using namespace tx;

namespace {

void runGenerator(benchmark::State& state, int modcod, bool noise)
{
    TxSettings s;
    s.modcods = {modcod};
    s.pilots = true;
    s.symbolRate = 5000000;
    s.sampleRate = 10000000;
    s.noise = noise;
    s.esn0Db = 10.0;
    SignalGenerator generator(s);
    std::vector<cf32> samples;
    std::vector<uint8_t> bytes;
    int64_t produced = 0;
    for (auto _ : state) {
        samples.clear();
        generator.nextUnit(samples); // one PLFRAME
        bytes.resize(samples.size() * 4);
        convertSamples(samples.data(), samples.size(), 0.25f * 32767.0f, IqFormat::S16, bytes.data());
        benchmark::DoNotOptimize(bytes.data());
        produced += int64_t(samples.size());
    }
    state.SetItemsProcessed(produced);
    state.counters["realtime_at_10Msps"] =
        benchmark::Counter(double(produced) / 1e7, benchmark::Counter::kIsRate); // > 1: faster than real time
}

void BM_Dvbs2Qpsk12(benchmark::State& state)
{
    runGenerator(state, 4, state.range(0) != 0);
}
BENCHMARK(BM_Dvbs2Qpsk12)->Arg(0)->Arg(1)->ArgName("noise")->Unit(benchmark::kMillisecond);

void BM_Dvbs2Psk8_23(benchmark::State& state)
{
    runGenerator(state, 13, state.range(0) != 0);
}
BENCHMARK(BM_Dvbs2Psk8_23)->Arg(0)->Arg(1)->ArgName("noise")->Unit(benchmark::kMillisecond);

void BM_DvbsRate12(benchmark::State& state)
{
    TxSettings s;
    s.standard = Standard::Dvbs;
    s.symbolRate = 5000000;
    s.sampleRate = 10000000;
    SignalGenerator generator(s);
    std::vector<cf32> samples;
    int64_t produced = 0;
    for (auto _ : state) {
        samples.clear();
        generator.nextUnit(samples); // one TS packet
        benchmark::DoNotOptimize(samples.data());
        produced += int64_t(samples.size());
    }
    state.SetItemsProcessed(produced);
}
BENCHMARK(BM_DvbsRate12);

} // namespace
