// Root-raised-cosine pulse shaping (EN 302 307-1 §5.6, EN 300 421 §4.5) with
// resampling to any output rate: each output sample is the sum of the symbols
// weighted by the continuous RRC pulse at its distance from them, taken from a
// finely sampled polyphase table.
#pragma once

#include "tx/Constellations.h"

#include <cstdint>
#include <vector>

namespace tx {

struct PulseShaperParams {
    double rollOff = 0.35;
    int64_t symbolRate = 1000000; // Hz; only the ratio to sampleRate matters
    int64_t sampleRate = 2000000; // Hz
    int spanSymbols = 16;         // filter length in symbols (even)
    double timingOffset = 0.0;    // symbols; positive delays the signal
};

// Symbol k is centred on sample (k + timingOffset) · sampleRate / symbolRate;
// nothing is sent before symbol 0. The pulse has unit energy, so unit-power
// symbols give unit output power per sample at any sample rate.
class PulseShaper {
public:
    explicit PulseShaper(const PulseShaperParams& params);

    // Takes symbols and appends every output sample they complete.
    void process(const cf32* symbols, size_t n, std::vector<cf32>& out);

    // Continuous RRC pulse with symbol period 1 (not normalised).
    static double rrc(double t, double rollOff);

    // Number of output samples produced so far.
    int64_t samplesOut() const { return produced; }

private:
    static constexpr int kPhases = 4096;

    int taps;                     // = span in symbols
    std::vector<float> table;     // kPhases rows of `taps` coefficients
    int64_t step;                 // symbol rate, reduced
    int64_t modulus;              // sample rate, reduced
    double timingFraction;        // fractional part of −timingOffset
    int64_t baseSymbol;           // ⌊u⌋ of the next output sample without the fraction
    int64_t remainder = 0;        // u = baseSymbol + remainder / modulus + timingFraction
    std::vector<cf32> history;    // symbols from index historyStart on
    int64_t historyStart;
    int64_t produced = 0;
};

} // namespace tx
