#include "demod/Demodulator.h"

using cf = std::complex<float>;

Demodulator::Demodulator() = default;

cf Demodulator::convert(const int16_t* sample, bool negateSecond) const
{
    const float a = float(sample[0]) * kInputScale;
    const float b = float(sample[1]) * kInputScale;
    return {a, negateSecond ? -b : b};
}

bool Demodulator::processS2(const int16_t* in, size_t n, cf* symbols, int8_t* frame, SymbolTap* tap)
{
    bool delivered = false;
    for (size_t k = 0; k < n; ++k) {
        // The matched filter's gain control settles at a negative gain, so its
        // output is the signal turned by π. With the default inversion flag
        // that turn is taken back here, so that a standard signal shows its
        // SOF and header as transmitted; the other setting stays as it was.
        cf z = convert(in + 2 * k, !inverted);
        if (inverted)
            z = -z;
        if (eq.mode != Equalizer::Off)
            z = eq.process(z);
        symbols[k] = sync.push(z, frame, delivered, tap);
    }
    return delivered;
}

void Demodulator::processS1(const int16_t* in, size_t n, cf* symbols, SymbolTap* tap)
{
    for (size_t k = 0; k < n; ++k)
        symbols[k] = dvbs.push(convert(in + 2 * k, inverted), tap);
}
