#include "dsp/BasebandMixer.h"

#include <cmath>

BasebandMixer::BasebandMixer()
{
    for (int k = 0; k < 256; ++k)
        sineTable[k] = float(std::sin(2.0 * M_PI * k / 256.0));
}

void BasebandMixer::process(int16_t* iq, size_t count)
{
    const double increment = phaseIncrement;
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

        // The estimate is subtracted before the sample's own part is added;
        // the result keeps its low 16 bits.
        iq[2 * k] = int16_t(uint16_t(uint32_t(mixedI - accI / 65536)));
        iq[2 * k + 1] = int16_t(uint16_t(uint32_t(mixedQ - accQ / 65536)));
        accI = accI - accI / 65536 + int16_t(uint16_t(uint32_t(mixedI)));
        accQ = accQ - accQ / 65536 + int16_t(uint16_t(uint32_t(mixedQ)));

        const double next = p + increment;
        p = next - std::trunc(next);
    }
    phase = p;
    dcAccI = accI;
    dcAccQ = accQ;
}
