// What handing a radio's samples to the receiver costs the radio's thread:
// offset-binary bytes converted and passed on one call per sample (the
// sample callback) or a run per library buffer (the block callback), into a
// running chain. Items are complex samples; the CPU time is the delivering
// thread's.
#include "devices/SampleFormat.h"
#include "receiver/ProcessingChain.h"
#include "receiver/ReceiverSettings.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr size_t kBufferSamples = 131072;   // a library buffer of 256 KiB of bytes

std::vector<uint8_t> radioBytes()
{
    std::mt19937 rng(7);
    std::vector<uint8_t> bytes(2 * kBufferSamples);
    for (uint8_t& b : bytes)
        b = uint8_t(rng());
    return bytes;
}

// Pauses the clock while the chain works through what it has.
void waitForChain(benchmark::State& state, ProcessingChain& chain)
{
    state.PauseTiming();
    while (!chain.readyForInput())
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    state.ResumeTiming();
}

void BM_DeliverPerSample(benchmark::State& state)
{
    ProcessingChain chain;
    chain.createLdpcWorkers(1);
    applyReceiverSettings(chain, ReceiverSettings());
    chain.start();
    const std::vector<uint8_t> bytes = radioBytes();
    SampleCallback& callback = chain.sampleCallback();
    for (auto _ : state) {
        for (size_t k = 0; k < kBufferSamples; ++k)
            callback(convert_u8_s16(bytes[2 * k]), convert_u8_s16(bytes[2 * k + 1]));
        waitForChain(state, chain);
    }
    chain.waitIdle(std::chrono::seconds(30));
    chain.stop();
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kBufferSamples));
}
BENCHMARK(BM_DeliverPerSample)->Unit(benchmark::kMillisecond);

void BM_DeliverRuns(benchmark::State& state)
{
    ProcessingChain chain;
    chain.createLdpcWorkers(1);
    applyReceiverSettings(chain, ReceiverSettings());
    chain.start();
    const std::vector<uint8_t> bytes = radioBytes();
    std::vector<int16_t> converted(2 * kBufferSamples);
    SampleBlockCallback& runs = chain.blockCallback();
    for (auto _ : state) {
        for (size_t k = 0; k < 2 * kBufferSamples; ++k)
            converted[k] = convert_u8_s16(bytes[k]);
        runs(converted.data(), kBufferSamples);
        waitForChain(state, chain);
    }
    chain.waitIdle(std::chrono::seconds(30));
    chain.stop();
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kBufferSamples));
}
BENCHMARK(BM_DeliverRuns)->Unit(benchmark::kMillisecond);

} // namespace
