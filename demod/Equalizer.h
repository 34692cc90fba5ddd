// Adaptive complex FIR equalizer: constant modulus or decision directed.
#pragma once

#include <complex>
#include <cstddef>

// How the equalizer adapts (the window's mode list, in its order).
enum class EqualizerMode { Off = 0, ConstantModulus = 1, DecisionDirected = 2 };

class Equalizer {
public:
    static constexpr int kMaxTaps = 256;
    static constexpr EqualizerMode Off = EqualizerMode::Off;
    static constexpr EqualizerMode ConstantModulus = EqualizerMode::ConstantModulus;
    static constexpr EqualizerMode DecisionDirected = EqualizerMode::DecisionDirected;

    Equalizer() { reset(); }

    // Taps and delay line cleared, then the two centre taps set to e^(j0.5).
    void reset();
    // One symbol in, one out; adapts the taps when `adapt` is set.
    std::complex<float> process(std::complex<float> x);

    EqualizerMode mode = ConstantModulus;
    int length = 16;          // L, a multiple of 16 from 16 to 256
    float mu = 0.00045f;
    bool adapt = true;

    // The last `length` inputs, newest first, as complex floats (re, im).
    const float* delayLine() const { return line + 2 * head; }

    alignas(16) float taps[2 * kMaxTaps];   // complex floats (re, im) interleaved

private:
    // Each input is stored twice, kMaxTaps apart, so the newest kMaxTaps
    // inputs are always one contiguous run starting at `head`.
    alignas(16) float line[4 * kMaxTaps];
    int head = 0;
};

// Σ taps[i]·delay[i] over `length` taps (a multiple of 4), and
// taps[i] += e·conj(delay[i]) with e already scaled by μ. `taps` is 16-byte
// aligned, `delay` need not be. The SSE4.1 versions agree with the plain ones
// within float rounding.
std::complex<float> eq_dot_ref(const float* taps, const float* delay, int length);
std::complex<float> eq_dot_sse41(const float* taps, const float* delay, int length);
void eq_update_ref(float* taps, const float* delay, int length, std::complex<float> e);
void eq_update_sse41(float* taps, const float* delay, int length, std::complex<float> e);
