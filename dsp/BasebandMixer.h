// Frequency shift to zero and DC removal of complex 16-bit samples, in place.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Multiplies each sample by e^(-j2πp), p stepping by phaseIncrement cycles per
// sample, then subtracts an exponential DC estimate (weight 1/65536 per
// sample). Oscillator and DC estimate carry over from call to call. Results
// beyond the 16-bit range saturate.
class BasebandMixer {
public:
    BasebandMixer();

    // Rewrites `count` complex samples (I, Q interleaved) in place
    // (mix_sse41).
    void process(int16_t* iq, size_t count);

    double phaseIncrement = 0;   // cycles per sample
    double phase = 0;            // cycles, fractional part
    int32_t dcAccI = 0;          // 65536 × DC estimate
    int32_t dcAccQ = 0;

    std::array<float, 256> sineTable;   // sin(2πk/256), from double precision
};

// The mixer's kernels, the same to the bit: the plain one, and one that
// turns four samples at a time between a pass over the phase and a pass
// over the DC estimate (both carried from sample to sample).
void mix_ref(BasebandMixer& m, int16_t* iq, size_t count);
void mix_sse41(BasebandMixer& m, int16_t* iq, size_t count);
