// The tuning of a receiver in one place: what the window's controls and the
// headless tools set, applied to a chain's workers through their setters.
#pragma once

#include <cstdint>

class ProcessingChain;

struct ReceiverSettings {
    uint64_t sampleRate = 2000000;   // device samples per second
    int32_t symbolRate = 1000000;
    bool dvbS2 = true;
    double offsetHz = 0;             // moved to zero frequency by the baseband mixer
    bool spectrumInverted = true;    // the window's initial choice ("Inverted")
    float rollOff = 0.35f;
    int32_t filterTaps = 64;         // matched filter
    int tedGain = 6;                 // timing loop shifts (the sliders' initial values)
    int tedDamping = 15;
    bool carrierLoop = true;
    float carrierKp = 0.5f;          // gain slider at 128: 128 / 256
    // The damping slider at its slow end (2 / 2048). The loop's initial
    // 0.03125 makes it about five times wider: below Es/N0 ≈ 5 dB the phase
    // jitter then costs frames and headers.
    float carrierKi = 2.0f / 2048.0f;
    // Off: satellite channels are flat, and the constant-modulus equalizer's
    // adaptation noise costs frames near threshold (its start also turns the
    // constellation by 0.5 rad until the carrier loop takes it back).
    int equalizerMode = 0;           // 0 off, 1 constant modulus, 2 decision directed
    int equalizerTaps = 16;
};

// Designs the matched filter, sets the resampler's step and loops, the
// mixer offset, the DVB mode and the demodulator's loops and equalizer.
void applyReceiverSettings(ProcessingChain& chain, const ReceiverSettings& settings);

// Redesigns the matched filter for a new roll-off (the BBHEADER's, say).
void applyRollOff(ProcessingChain& chain, const ReceiverSettings& settings, float rollOff);
