#include "tx/PulseShaper.h"

#include <cmath>
#include <numeric>

namespace tx {

namespace {
constexpr double kPi = 3.14159265358979323846;
}

double PulseShaper::rrc(double t, double a)
{
    if (std::abs(t) < 1e-9)
        return 1.0 - a + 4.0 * a / kPi;
    if (a > 0 && std::abs(std::abs(t) - 1.0 / (4.0 * a)) < 1e-9)
        return a / std::sqrt(2.0)
            * ((1.0 + 2.0 / kPi) * std::sin(kPi / (4.0 * a)) + (1.0 - 2.0 / kPi) * std::cos(kPi / (4.0 * a)));
    const double x = 4.0 * a * t;
    return (std::sin(kPi * t * (1.0 - a)) + x * std::cos(kPi * t * (1.0 + a))) / (kPi * t * (1.0 - x * x));
}

PulseShaper::PulseShaper(const PulseShaperParams& p)
    : taps(p.spanSymbols)
{
    const int half = taps / 2;
    table.resize(size_t(kPhases) * size_t(taps));
    double energy = 0.0;
    for (int ph = 0; ph < kPhases; ++ph) {
        for (int j = 0; j < taps; ++j) {
            const double v = rrc(double(ph) / kPhases + (half - 1 - j), p.rollOff);
            table[size_t(ph * taps + j)] = float(v);
            energy += v * v;
        }
    }
    const float norm = float(1.0 / std::sqrt(energy / kPhases)); // ∫h² dt = 1
    for (float& v : table)
        v *= norm;

    const int64_t g = std::gcd(p.symbolRate, p.sampleRate);
    step = p.symbolRate / g;
    modulus = p.sampleRate / g;
    const double start = -p.timingOffset; // u of sample 0
    baseSymbol = int64_t(std::floor(start));
    timingFraction = start - double(baseSymbol);
    historyStart = -taps; // zeros before the first symbol
    history.assign(size_t(taps), cf32(0.0f, 0.0f));
}

void PulseShaper::process(const cf32* symbols, size_t n, std::vector<cf32>& out)
{
    history.insert(history.end(), symbols, symbols + n);
    const int half = taps / 2;
    const int64_t available = historyStart + int64_t(history.size()); // symbols known: < available
    for (;;) {
        double frac = double(remainder) / double(modulus) + timingFraction;
        int64_t k0 = baseSymbol;
        int phase = int(std::lround(frac * kPhases));
        while (phase >= kPhases) {
            phase -= kPhases;
            ++k0;
        }
        if (k0 + half >= available)
            break;
        const cf32* s = history.data() + (k0 - half + 1 - historyStart);
        const float* h = table.data() + size_t(phase) * size_t(taps);
        float re = 0.0f, im = 0.0f;
        for (int j = 0; j < taps; ++j) {
            re += s[j].real() * h[j];
            im += s[j].imag() * h[j];
        }
        out.emplace_back(re, im);
        ++produced;
        remainder += step;
        while (remainder >= modulus) {
            remainder -= modulus;
            ++baseSymbol;
        }
    }
    // Drop symbols no later sample can reach.
    const int64_t keepFrom = baseSymbol - half - 1;
    if (keepFrom - historyStart > 8192) {
        history.erase(history.begin(), history.begin() + (keepFrom - historyStart));
        historyStart = keepFrom;
    }
}

} // namespace tx
