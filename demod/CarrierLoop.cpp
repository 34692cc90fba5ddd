#include "demod/CarrierLoop.h"

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

void CarrierLoop::setEnabled(bool enabled)
{
    on = enabled;
    integrator = 0;
    frequency = 0;
}
