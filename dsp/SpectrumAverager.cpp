#include "dsp/SpectrumAverager.h"

#include <algorithm>
#include <cmath>

SpectrumAverager::SpectrumAverager(int size, int minimum)
    : sums(size_t(size), 0.0f), n(size), minimumChunks(minimum)
{
}

void SpectrumAverager::setSize(int size)
{
    sums.resize(size_t(size), 0.0f);
    n = size;
}

void SpectrumAverager::accumulate(const std::complex<float>* bins, size_t count)
{
    const int32_t half = n / 2;
    // |X| / (N·√N) in the display's units of 16384.
    const float scale = float(1.0 / (double(n) * std::sqrt(double(n)))) * 16384.0f;
    for (size_t offset = 0; offset + size_t(n) <= count; offset += size_t(n)) {
        const std::complex<float>* chunk = bins + offset;
        for (int32_t j = 0; j < n; ++j) {
            const std::complex<float> v = chunk[(j + half) % n];
            sums[size_t(j)] += scale * std::sqrt(v.real() * v.real() + v.imag() * v.imag());
        }
        ++chunks;
    }
}

bool SpectrumAverager::take(std::vector<float>& average)
{
    if (chunks < minimumChunks)
        return false;
    average.resize(sums.size());
    for (size_t j = 0; j < sums.size(); ++j) {
        average[j] = sums[j] / float(chunks);
        sums[j] = 0;
    }
    chunks = 0;
    return true;
}

void SpectrumAverager::clear()
{
    std::fill(sums.begin(), sums.end(), 0.0f);
    chunks = 0;
}
