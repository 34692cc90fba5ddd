// Fine carrier recovery: a phase-locked loop whose oscillator derotates the
// symbols, on a 256-entry sine table.
#pragma once

#include <array>
#include <complex>
#include <cstdint>

// sin(2πk/256), from extended precision, shared by every demodulator.
const std::array<float, 256>& demodSineTable();

// QPSK phase detector: sgn(I)·Q − sgn(Q)·I, with sgn(0) = +1.
inline float qpskPhaseError(std::complex<float> s)
{
    return (s.real() < 0 ? -1.0f : 1.0f) * s.imag() - (s.imag() < 0 ? -1.0f : 1.0f) * s.real();
}

class CarrierLoop {
public:
    // s·e^(−jθ) for the oscillator's current phase.
    std::complex<float> derotate(std::complex<float> s) const;
    // Loop filter on the phase error (limited to ±0.25); nothing when disabled.
    void update(float error);
    // Moves the oscillator by one symbol.
    void advance();
    // Switching on or off clears integrator and frequency; the phase stays.
    void setEnabled(bool on);

    int32_t phase = 0;        // 65536 per cycle; table index = phase >> 8
    float kp = 2.0f;
    float ki = 0.03125f;
    float integrator = 0;
    float frequency = 0;      // 1/256 cycle per symbol
    bool enabled = false;
};
