#include "dsp/BasebandMixer.h"

#include <algorithm>
#include <cmath>

namespace {

inline int16_t saturate16(int32_t v)
{
    return int16_t(std::clamp(v, -32768, 32767));
}

} // namespace

BasebandMixer::BasebandMixer()
{
    for (int k = 0; k < 256; ++k)
        sineTable[k] = float(std::sin(2.0 * M_PI * k / 256.0));
}

void BasebandMixer::process(int16_t* iq, size_t count)
{
    // Whole cycles per sample turn nothing; what is left keeps the phase
    // below one cycle either way.
    const double increment = phaseIncrement - std::trunc(phaseIncrement);
    double p = phase;
    int32_t accI = dcAccI;
    int32_t accQ = dcAccQ;
    for (size_t k = 0; k < count; ++k) {
        // Indices truncated toward zero, then their low 8 bits (negatives wrap).
        const uint8_t sinIndex = uint8_t(int32_t(256.0 * p));
        const uint8_t cosIndex = uint8_t(int32_t(64.0 - 256.0 * p));
        const float s = sineTable[sinIndex];
        const float c = sineTable[cosIndex];

        const float i = iq[2 * k];
        const float q = iq[2 * k + 1];
        // (I + jQ) × (c − js), truncated toward zero.
        const int32_t mixedI = int32_t(i * c + q * s);
        const int32_t mixedQ = int32_t(q * c - i * s);

        // The estimate is subtracted before the sample's own part is added.
        // Both saturate: a full-scale sample turned by the oscillator, or
        // less a DC estimate of the other sign, must stay a large value of
        // its own sign, not wrap to the opposite end of the range.
        iq[2 * k] = saturate16(mixedI - accI / 65536);
        iq[2 * k + 1] = saturate16(mixedQ - accQ / 65536);
        accI = accI - accI / 65536 + saturate16(mixedI);
        accQ = accQ - accQ / 65536 + saturate16(mixedQ);

        // The fraction kept, as trunc() would keep it: |next| < 2, so the
        // conversion to an integer is exact and needs no rounding instruction.
        const double next = p + increment;
        p = next - double(int32_t(next));
    }
    phase = p;
    dcAccI = accI;
    dcAccQ = accQ;
}
