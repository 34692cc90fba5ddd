#include "demod/SoftDemapper.h"

#include "demod/CarrierLoop.h"
#include "demod/PlSignalling.h"

#include <array>
#include <cmath>

int8_t softValue(float x)
{
    const float scaled = x * 128.0f;
    if (!(scaled > -128.0f))
        return -128;
    if (!(scaled < 127.0f))
        return scaled != scaled ? 0 : 127;
    return int8_t(int(scaled));
}

void SoftDemapper::start(uint8_t plsCode)
{
    pls = plsCode;
    constellation = s2ModcodRow(plsModcod(plsCode)).constellationIndex;
    reversedColumns = plsModcod(plsCode) == 12;   // 8PSK 3/5: columns in reverse order
    frameValues = plsShortFrame(plsCode) ? 16200u : 64800u;
    written = 0;
}

void SoftDemapper::demap(std::complex<float> s)
{
    if (constellation == 2) {
        if (written + 2 <= kMaxValues) {
            soft[written] = softValue(s.imag());
            soft[written + 1] = softValue(s.real());
            written += 2;
        }
    } else if (constellation == 3) {
        if (written + 3 <= frameValues) {
            const std::array<float, 256>& sine = demodSineTable();
            const float c = sine[48], sn = sine[16];   // cos, sin 22.5°
            const float u = s.real() * c - s.imag() * sn;
            const float v = s.real() * sn + s.imag() * c;
            const int8_t b0 = softValue(std::fabs(v) - std::fabs(u));
            const int8_t b1 = softValue(v);
            const int8_t b2 = softValue(u);
            // Column-wise interleaving: the three bits of a symbol go to the
            // three thirds of the code word.
            const uint32_t m = written / 3;
            soft[m] = reversedColumns ? b2 : b0;
            soft[m + frameValues / 3] = b1;
            soft[m + 2 * frameValues / 3] = reversedColumns ? b0 : b2;
            written += 3;
        }
    }
}
