#include "demod/Demodulator.h"

using cf = std::complex<float>;

Demodulator::Demodulator() = default;

size_t Demodulator::processS2(const int16_t* in, size_t n, cf* symbols, int8_t* frame, SymbolTap* tap,
                              size_t frameCapacity)
{
    return sync.process(in, n, kInputScale, inverted, eq, symbols, frame, tap, frameCapacity);
}

void Demodulator::processS1(const int16_t* in, size_t n, cf* symbols, SymbolTap* tap)
{
    dvbs.process(in, n, kInputScale, inverted, symbols, tap);
}
