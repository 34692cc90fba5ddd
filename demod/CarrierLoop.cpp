#include "demod/CarrierLoop.h"

#include <algorithm>
#include <cmath>

const std::array<float, 256>& demodSineTable()
{
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        const long double twoPi = 6.283185307179586476925286766559L;
        for (int k = 0; k < 256; ++k)
            t[size_t(k)] = float(std::sin(twoPi * k / 256.0L));
        return t;
    }();
    return table;
}

std::complex<float> CarrierLoop::derotate(std::complex<float> s) const
{
    const auto& table = demodSineTable();
    const int index = (phase >> 8) & 255;
    const float sn = table[size_t(index)];
    const float cs = table[size_t((64 - index) & 255)];
    return {s.real() * cs + s.imag() * sn, s.imag() * cs - s.real() * sn};
}

void CarrierLoop::update(float error)
{
    if (!enabled)
        return;
    const float e = std::clamp(error, -0.25f, 0.25f);
    integrator += ki * e;
    frequency = kp * e + integrator;
}

void CarrierLoop::advance()
{
    const float next = float(phase) + frequency * 256.0f;
    // Truncated toward zero, kept to 16 bits; a runaway value restarts at 0.
    const int32_t whole = (next > -2.0e9f && next < 2.0e9f) ? int32_t(next) : 0;
    phase = whole & 0xFFFF;
}

void CarrierLoop::setEnabled(bool on)
{
    enabled = on;
    integrator = 0;
    frequency = 0;
}
