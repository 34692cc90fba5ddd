#include "dsp/AveragedPower.h"

#include <cmath>

AveragedPower::AveragedPower(int size) : fft(size), window(size_t(size)), transformed(size_t(size)), sums(size_t(size))
{
    const double pi = 3.14159265358979323846;
    for (int k = 0; k < size; ++k) {
        window[size_t(k)] = float(0.5 - 0.5 * std::cos(2 * pi * k / size));
        windowPower += double(window[size_t(k)]) * window[size_t(k)];
    }
    pending.reserve(size_t(size));
}

void AveragedPower::add(const std::complex<float>* samples, size_t count)
{
    const size_t n = size_t(fft.size());
    while (count > 0) {
        const size_t take = std::min(count, n - pending.size());
        for (size_t k = 0; k < take; ++k)
            pending.push_back(samples[k] * window[pending.size()]);
        samples += take;
        count -= take;
        if (pending.size() < n)
            return;
        fft.transform(pending.data(), transformed.data());
        for (size_t k = 0; k < n; ++k)
            sums[(k + n / 2) % n] += std::norm(transformed[k]);
        ++taken;
        pending.clear();
    }
}

std::vector<float> AveragedPower::mean() const
{
    std::vector<float> out(sums.size(), 0.0f);
    if (taken == 0)
        return out;
    for (size_t k = 0; k < sums.size(); ++k)
        out[k] = float(sums[k] / (taken * windowPower));
    return out;
}

void AveragedPower::clear()
{
    std::fill(sums.begin(), sums.end(), 0.0);
    pending.clear();
    taken = 0;
}
