// Sample-rate reduction by powers of two for complex 16-bit samples: a
// cascade of identical half-band low-pass stages, each keeping every second
// output.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// One stage: a 15-tap half-band filter in Q15 (DC gain exactly one; flat
// within 0.002 dB up to 0.084 of its input rate, at least 74 dB down from
// 0.416), so a band of ±0.084 × the input rate comes through the halving
// clean of aliases. Integer throughout: the results are exact and the same
// on every machine. Its delay is 7 input samples.
class HalfBandDecimator {
public:
    static constexpr int kTaps = 15;
    static constexpr std::array<int32_t, kTaps> kCoefficients = {-9,    0, 308,   0, -1866, 0,   9759, 16384,
                                                                 9759,  0, -1866, 0, 308,   0,   -9};
    static constexpr int kDelay = (kTaps - 1) / 2;

    // Filters `count` complex samples (I, Q interleaved; `count` even) and
    // writes count / 2 to `out`, which may be `in`. Each output is the
    // filter's value at the second sample of its pair, rounded half up and
    // saturated.
    void process(const int16_t* in, int16_t* out, size_t count);
    // Forgets the samples held from earlier calls.
    void reset();

private:
    // The last kTaps − 1 samples of earlier calls, then the current input.
    std::vector<int16_t> work = std::vector<int16_t>(2 * (kTaps - 1), 0);
};

// 2^exponent times fewer samples, through `exponent` stages in a row.
class Decimator {
public:
    static constexpr int kMaxExponent = 7;

    // Clamped to 0 … kMaxExponent; a change starts the stages afresh.
    void setExponent(int exponent);
    int exponent() const { return int(stages.size()); }
    // Rewrites `count` samples in place as count >> exponent (count a
    // multiple of 2^exponent) and returns how many.
    size_t process(int16_t* iq, size_t count);
    // The delay of a cascade of `exponent` stages in its input samples:
    // 7 × (2^exponent − 1).
    static int delay(int exponent) { return HalfBandDecimator::kDelay * ((1 << exponent) - 1); }

private:
    std::vector<HalfBandDecimator> stages;
};
