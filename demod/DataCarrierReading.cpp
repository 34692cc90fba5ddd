#include "demod/DataCarrierReading.h"

#include "core/RadixTwoFft.h"

#include <algorithm>
#include <cmath>

void DataCarrierReading::start(int constellationSteps, float aroundFrequency)
{
    steps = constellationSteps;
    around = aroundFrequency;
    firstIndex = 0;
    runSum = 0;
    runStart = 0;
    inRun = 0;
    runs.clear();
    runSlots.clear();
    symbols = 0;
}

double DataCarrierReading::reach() const
{
    return steps > 0 ? 0.9 * 128.0 / double(steps * kRun) : 0.0;
}

void DataCarrierReading::add(std::complex<float> s, int64_t index, int32_t oscillatorPhase)
{
    if (steps == 0)
        return;
    if (symbols == 0)
        firstIndex = index;
    ++symbols;
    const int64_t t = index - firstIndex;
    if (inRun == 0)
        runStart = t;
    // The symbol as it came in, less a carrier at `around`.
    const double turn = 2 * M_PI * (double(oscillatorPhase) / 65536.0 - double(around) / 256.0 * double(t));
    const std::complex<double> u = std::complex<double>(double(s.real()), double(s.imag())) * std::polar(1.0, turn);
    // Unit magnitude: the power's noise grows with |s| to that power.
    const double magnitude = std::abs(u);
    if (magnitude > 0) {
        const std::complex<double> p = u / magnitude;
        std::complex<double> power = p;
        for (int k = 1; k < steps; ++k)
            power *= p;
        runSum += power;
    }
    if (++inRun == kRun) {
        runs.push_back(runSum);
        runSlots.push_back(int32_t(runStart / kRun));
        runSum = 0;
        inRun = 0;
    }
}

bool DataCarrierReading::carrier(float& frequency) const
{
    if (int(runs.size()) < kMinimumRuns)
        return false;
    // The runs on their grid, gaps left empty, padded fourfold: the power's
    // spectrum, bin k turning by k / (n·kRun) cycles per symbol, which is a
    // carrier steps times less.
    size_t n = 64;
    while (n < 4 * size_t(runSlots.back() + 1))
        n <<= 1;
    std::vector<std::complex<double>> x(n);
    double noise = 0;
    for (size_t r = 0; r < runs.size(); ++r) {
        x[size_t(runSlots[r])] += runs[r];
        noise += std::norm(runs[r]);
    }
    radixTwoFft(x);
    const double unitsPerBin = 256.0 / (double(steps) * kRun * double(n));
    const long half = long(std::floor(reach() / unitsPerBin));
    auto power = [&](long k) { return std::norm(x[size_t((k + long(n)) % long(n))]); };
    long best = 0;
    for (long k = -half; k <= half; ++k)
        if (power(k) > power(best))
            best = k;
    const double peak = power(best);
    if (!(peak > kPeakOverNoise * noise))
        return false;
    // The parabola through the peak and its neighbours.
    const double left = power(best - 1), right = power(best + 1);
    const double curvature = left - 2 * peak + right;
    const double shift = curvature < 0 ? std::clamp(0.5 * (left - right) / curvature, -0.5, 0.5) : 0.0;
    frequency = float(double(around) + (double(best) + shift) * unitsPerBin);
    return true;
}
