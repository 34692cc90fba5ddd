// A plain in-place radix-2 FFT in double precision, for measurements made
// once a frame or in tests, off the sample path (the spectrum display has
// its planned single-precision transforms in dsp/Fft.h).
#pragma once

#include <cmath>
#include <complex>
#include <utility>
#include <vector>

// X[k] = Σ x[n]·e^(−j2πkn/N), natural order, unscaled; N a power of two.
inline void radixTwoFft(std::vector<std::complex<double>>& x)
{
    const size_t n = x.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(x[i], x[j]);
    }
    for (size_t length = 2; length <= n; length <<= 1) {
        const std::complex<double> step = std::polar(1.0, -2 * M_PI / double(length));
        for (size_t i = 0; i < n; i += length) {
            std::complex<double> w = 1;
            for (size_t k = 0; k < length / 2; ++k) {
                const std::complex<double> u = x[i + k], v = x[i + k + length / 2] * w;
                x[i + k] = u + v;
                x[i + k + length / 2] = u - v;
                w *= step;
            }
        }
    }
}
