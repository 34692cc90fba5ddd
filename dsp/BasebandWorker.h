// First stage after the device: moves the chosen offset to zero frequency and
// removes DC, in place.
#pragma once

#include "core/Worker.h"
#include "dsp/BasebandMixer.h"

#include <atomic>
#include <mutex>

// Input: complex 16-bit samples (I, Q); output: none, the input is rewritten.
class BasebandWorker : public Worker {
public:
    explicit BasebandWorker(DoneCallback onDone);
    ~BasebandWorker() override;
    size_t objectSize() const override { return sizeof(*this); }
    void process(WorkBuffer* input, WorkBuffer* output) override;

    // Oscillator step in cycles per sample (0.5 × the position −1..+1 picked
    // in the spectrum); applies from the next block.
    void setPhaseIncrement(double cyclesPerSample) { phaseIncrement.store(cyclesPerSample); }
    double getPhaseIncrement() const { return phaseIncrement.load(); }

private:
    std::mutex paramMutex;
    std::atomic<double> phaseIncrement{0.0};
    BasebandMixer mixer;
};
