// Fine carrier recovery: a phase-locked loop whose oscillator derotates the
// symbols, on a 256-entry sine table.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdint>

// sin(2πk/256), from extended precision, shared by every demodulator.
const std::array<float, 256>& demodSineTable();

// QPSK phase detector: sgn(I)·Q − sgn(Q)·I, with sgn(0) = +1.
inline float qpskPhaseError(std::complex<float> s)
{
    return (s.real() < 0 ? -1.0f : 1.0f) * s.imag() - (s.imag() < 0 ? -1.0f : 1.0f) * s.real();
}

// tanh(x) within 0.025: the Padé form x(27 + x²)/(27 + 9x²) up to ±1.
inline float softSign(float x)
{
    const float x2 = x * x;
    return std::clamp(x * (27.0f + x2) / (27.0f + 9.0f * x2), -1.0f, 1.0f);
}

// The same with each decision weighted by its likelihood, tanh(c·x) for
// sgn(x), where c = √2·Es/N0 on symbols of unit energy: a symbol the noise
// leaves in doubt steers the loop little. At high Es/N0 it is the hard
// detector; near 0 dB it narrows the loop and sheds most of the hard
// decisions' self-noise.
inline float qpskSoftPhaseError(std::complex<float> s, float c)
{
    return softSign(c * s.real()) * s.imag() - softSign(c * s.imag()) * s.real();
}

class CarrierLoop {
public:
    // s·e^(−jθ) for the oscillator's current phase.
    std::complex<float> derotate(std::complex<float> s) const
    {
        const int index = (phase >> 8) & 255;
        const float sn = table[size_t(index)];
        const float cs = table[size_t((64 - index) & 255)];
        return {s.real() * cs + s.imag() * sn, s.imag() * cs - s.real() * sn};
    }
    // Loop filter on the phase error (limited to ±0.25); nothing when disabled.
    void update(float error) { update(error, integralGainValue); }
    // The same with another integral gain for this symbol.
    void update(float error, float integralGain) { update(error, integralGain, proportionalGainValue); }
    // The same with other gains for this symbol.
    void update(float error, float integralGain, float proportionalGain)
    {
        if (!on)
            return;
        const float e = limitedError(error);
        integrator += integralGain * e;
        frequency = proportionalGain * e + integrator;
    }
    static float limitedError(float error) { return std::clamp(error, -0.25f, 0.25f); }
    // Moves the oscillator by one symbol.
    void advance() { phase = advanced(phase, frequency * 256.0f); }
    // The phase a symbol later at 256 × frequency.
    static int32_t advanced(int32_t phase, float step)
    {
        const float next = float(phase) + step;
        // Truncated toward zero, kept to 16 bits; a runaway value restarts at 0.
        const int32_t whole = (next > -2.0e9f && next < 2.0e9f) ? int32_t(next) : 0;
        return whole & 0xFFFF;
    }
    // Switching on or off clears integrator and frequency; the phase stays.
    void setEnabled(bool enabled);
    bool enabled() const { return on; }
    // The proportional and integral gains.
    void setGains(float kp, float ki)
    {
        proportionalGainValue = kp;
        integralGainValue = ki;
    }
    float kp() const { return proportionalGainValue; }
    float ki() const { return integralGainValue; }

    // The oscillator and the loop filter's state, which the framing and the
    // carrier acquisition also set when they find the carrier.
    int32_t phase = 0;        // 65536 per cycle; table index = phase >> 8
    float integrator = 0;
    float frequency = 0;      // 1/256 cycle per symbol

private:
    float proportionalGainValue = 2.0f;
    float integralGainValue = 0.03125f;
    bool on = false;
    const std::array<float, 256>& table = demodSineTable();
};
