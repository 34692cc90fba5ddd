// Symbol timing recovery: one complex 16-bit sample per symbol out.
#pragma once

#include "core/Worker.h"
#include "dsp/SymbolResampler.h"

#include <atomic>
#include <mutex>

// Input: the matched filter's complex 16-bit samples (two per symbol);
// output: the symbols, components swapped, written from the start of the
// buffer, which is then resized to what was written.
class ResampleWorker : public Worker {
public:
    explicit ResampleWorker(DoneCallback onDone);
    ~ResampleWorker() override;
    size_t objectSize() const override { return sizeof(*this); }
    void process(WorkBuffer* input, WorkBuffer* output) override;
    // Never more symbols than input samples: the input's size is enough.
    static constexpr size_t outputBytes(size_t inputBytes) { return inputBytes; }

    // Loop gains as right shifts: Kp = 2^-v, Ki = 2^-v.
    void setTEDGain(float v);
    void setTEDDamping(float v);
    // inputRate: samples/s reaching this stage (twice the device rate).
    void setSymbolRate(double inputRate, double symbolRate);
    // step + correction: the tracked rate, 2^32 × 2·symbolRate / inputRate.
    int64_t trackedStep();
    // The step set for the symbol rate, before the loop's correction.
    int64_t nominalStep();
    // The loop's shifts (Kp = 2^-gain, Ki = 2^-damping).
    int gainShift();
    int dampingShift();
    // Runs the per-sample path instead of the vector kernel from the next block.
    void setDebugMode(bool on);
    // Whether the chain is receiving (frames or packets decoding); while it
    // is not, the loop's frequency term is pulled back toward the nominal
    // rate, so that noise or an outage cannot leave it where the signal,
    // when it returns, is out of reach. Any thread; read once per block.
    void setReceiving(bool on) { receiving.store(on, std::memory_order_relaxed); }

private:
    std::mutex paramMutex;
    SymbolResampler resampler;
    std::atomic<bool> debugMode{false};
    std::atomic<bool> receiving{false};
};
