// Cubic (Farrow, Lagrange) interpolator with early/late symbol timing
// recovery: complex 16-bit samples at two per symbol in, one per symbol out.
#pragma once

#include <cstddef>
#include <cstdint>

// What the resampling kernels work on: the delay line, the interpolator's
// phase and step, and the timing loop. The vector kernel, its reference and
// the per-sample path share it, so a test can run them from the same state
// and compare what they leave.
struct ResamplerState {
    // The loop's frequency term stays within this fraction of the step:
    // a clock that far off is no clock error but a wrong symbol rate, and
    // without a bound noise walks the integrator off to where the loop can
    // no longer pull in when the signal returns.
    static constexpr int kIntegratorRangeDivisor = 100;   // ±1 %
    // While the signal is not held, the frequency term decays toward the
    // nominal rate with this time constant in symbols.
    static constexpr int64_t kRelaxSymbols = 65536;

    // step = 2 × ⌊symbolRate × 2^32 / inputRate⌋; clears phase and loop.
    void setSymbolRate(double inputRate, double symbolRate);

    // The bound of the integrator: ±step / kIntegratorRangeDivisor.
    int32_t integratorLimit() const { return int32_t(step / kIntegratorRangeDivisor); }

    // The tracked rate: step + correction.
    int64_t trackedStep() const { return int64_t(step) + correction; }

    // Pulls the frequency term back toward the nominal rate by the share
    // of kRelaxSymbols that `symbols` make: called for the symbols of a
    // block while nothing is being received.
    void relax(size_t symbols);

    // Delay line x[n], x[n−1], x[n−2], x[n−3] and output history y[k],
    // y[k−1], y[k−2] (and a spare slot), each complex sample as (b, a) in the
    // vector kernel's layout (lane 0 newest).
    int16_t delay[4][2] = {};
    int16_t history[4][2] = {};
    uint32_t phase = 0;
    uint32_t step = 0;
    int32_t dampingShift = 14;
    int32_t gainShift = 4;
    int32_t integrator = 0;
    int32_t correction = 0;
    int32_t toggle = 0;
};

class SymbolResampler {
public:
    static constexpr int64_t kRelaxSymbols = ResamplerState::kRelaxSymbols;

    // step = 2 × ⌊symbolRate × 2^32 / inputRate⌋; clears phase and loop.
    void setSymbolRate(double inputRate, double symbolRate) { s.setSymbolRate(inputRate, symbolRate); }
    // The timing loop's gain and damping, as right shifts of the error.
    void setLoopShifts(int32_t gain, int32_t damping)
    {
        s.gainShift = gain;
        s.dampingShift = damping;
    }
    int32_t gainShift() const { return s.gainShift; }
    int32_t dampingShift() const { return s.dampingShift; }

    // Runs `count` input samples (a, b) and writes symbols as (b', a') to
    // `out`, which must hold count / 2 + 1 symbols. Returns the number of
    // symbols written. The vector kernel unless `perSample` is set.
    size_t process(const int16_t* in, size_t count, int16_t* out, bool perSample = false);

    void relax(size_t symbols) { s.relax(symbols); }
    int64_t nominalStep() const { return int64_t(s.step); }
    int64_t trackedStep() const { return s.trackedStep(); }
    int32_t integratorLimit() const { return s.integratorLimit(); }
    const ResamplerState& state() const { return s; }

private:
    ResamplerState s;
};

// The vector kernel, its plain reference (identical results) and the
// per-sample path (the same sequence, wrapping to 16 bits where the vector
// kernel saturates). Each returns the number of symbols written.
size_t resample_sse41(ResamplerState& r, const int16_t* in, size_t count, int16_t* out);
size_t resample_ref(ResamplerState& r, const int16_t* in, size_t count, int16_t* out);
size_t resample_per_sample(ResamplerState& r, const int16_t* in, size_t count, int16_t* out);
