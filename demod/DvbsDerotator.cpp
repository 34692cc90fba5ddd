#include "demod/DvbsDerotator.h"

using cf = std::complex<float>;

DvbsDerotator::DvbsDerotator(Equalizer& equalizer, CarrierLoop& loop)
    : equalizer(equalizer), loop(loop)
{
}

void DvbsDerotator::setDerotation(int v)
{
    derotation = {sineTable[size_t((64 - v) & 255)], -sineTable[size_t(v & 255)]};
}

void DvbsDerotator::process(const int16_t* in, size_t n, float scale, bool inverted, cf* symbols, SymbolTap* tap)
{
    for (size_t k = 0; k < n; ++k) {
        const float a = float(in[2 * k]) * scale;
        const float b = float(in[2 * k + 1]) * scale;
        cf z(a, inverted ? -b : b);
        if (equalizer.on())
            z = equalizer.process(z);
        if (loop.enabled()) {
            z = loop.derotate(z);
            loop.update(qpskPhaseError(z));
        }
        const cf out(derotation.real() * z.real() - derotation.imag() * z.imag(),
                     derotation.imag() * z.real() + derotation.real() * z.imag());
        // Every symbol is shown, whatever the source chosen.
        if (tap != nullptr)
            tap->symbols.push_back(out);
        symbols[k] = out;
        loop.advance();
    }
    quality.add(symbols, n);
}
