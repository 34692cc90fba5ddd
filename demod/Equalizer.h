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
    // One symbol in, one out; adapts the taps when adapting.
    std::complex<float> process(std::complex<float> x);

    void setMode(EqualizerMode m) { adaptMode = m; }
    EqualizerMode mode() const { return adaptMode; }
    bool on() const { return adaptMode != Off; }
    // L taps, a multiple of 16 from 16 to 256 (taken at the next reset()).
    void setLength(int taps) { tapCount = taps; }
    int length() const { return tapCount; }
    void setStep(float mu) { stepSize = mu; }
    float step() const { return stepSize; }
    void setAdapting(bool on) { adaptTaps = on; }
    bool adapting() const { return adaptTaps; }

    // The last length() inputs, newest first, as complex floats (re, im).
    const float* delayLine() const { return line + 2 * head; }
    // The length() taps, complex floats (re, im) interleaved.
    const float* taps() const { return coefficients; }
    // Starts from these `count` taps instead, the others zero.
    void setTaps(const std::complex<float>* values, int count);

private:
    EqualizerMode adaptMode = ConstantModulus;
    int tapCount = 16;
    float stepSize = 0.00045f;
    bool adaptTaps = true;
    alignas(16) float coefficients[2 * kMaxTaps];
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
