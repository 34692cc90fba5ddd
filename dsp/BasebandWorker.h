// First stage after the device: moves the chosen offset to zero frequency,
// removes DC and decimates, in place.
#pragma once

#include "core/Worker.h"
#include "dsp/BasebandMixer.h"
#include "dsp/HalfBandDecimator.h"

#include <atomic>
#include <mutex>

// Input: complex 16-bit samples (I, Q); output: none, the input is rewritten
// and shortened to its decimated samples.
class BasebandWorker : public Worker {
public:
    explicit BasebandWorker(DoneCallback onDone);
    ~BasebandWorker() override;
    size_t objectSize() const override { return sizeof(*this); }
    void process(WorkBuffer* input, WorkBuffer* output) override;

    // Oscillator step in cycles per sample (0.5 × the position −1..+1 picked
    // in the spectrum); applies from the next block.
    void setPhaseIncrement(double cyclesPerSample);
    double getPhaseIncrement() const { return phaseIncrement.load(); }
    // Moves the oscillator by `cyclesPerSample` from the next block on (the
    // receiver following the carrier it found); a setPhaseIncrement() in
    // between replaces the move.
    void moveBy(double cyclesPerSample);
    // What became of a move by the block just processed, taken once, on the
    // worker's thread (its completion): the block began with it, it was
    // replaced by a setPhaseIncrement(), or nothing happened to one.
    enum class MoveOutcome { None, Applied, Replaced };
    MoveOutcome takeMoveOutcome()
    {
        const MoveOutcome outcome = moveOutcome;
        moveOutcome = MoveOutcome::None;
        return outcome;
    }

    // Halves the sample rate `exponent` times (0 … Decimator::kMaxExponent)
    // after the mixer, from the next block on. The oscillator steps above
    // stay in cycles per input sample.
    void setDecimation(int exponent);
    int decimation() const { return decimationExponent.load(); }

private:
    std::mutex paramMutex;
    std::atomic<int> decimationExponent{0};
    std::atomic<double> phaseIncrement{0.0};
    double pendingMove = 0;         // under paramMutex
    bool moveReplaced = false;      // under paramMutex
    MoveOutcome moveOutcome = MoveOutcome::None;   // the worker's thread
    BasebandMixer mixer;
    Decimator decimator;   // the worker's thread
};
