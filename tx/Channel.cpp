#include "tx/Channel.h"

#include <cmath>

namespace tx {

namespace {
constexpr double kPi = 3.14159265358979323846;

uint64_t splitmix(uint64_t& x)
{
    uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

inline uint64_t rotl(uint64_t x, int k)
{
    return (x << k) | (x >> (64 - k));
}
} // namespace

GaussianNoise::GaussianNoise(uint64_t seed)
{
    for (uint64_t& v : s)
        v = splitmix(seed);
}

uint64_t GaussianNoise::next()
{
    const uint64_t result = rotl(s[1] * 5, 7) * 9;
    const uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return result;
}

double GaussianNoise::uniform()
{
    return double(next() >> 11) * 0x1.0p-53;
}

void GaussianNoise::pair(float& a, float& b)
{
    // One 64-bit draw gives both 32-bit coordinates of the polar method.
    float u, v, r;
    do {
        const uint64_t x = next();
        u = float(int32_t(uint32_t(x))) * 0x1.0p-31f;
        v = float(int32_t(uint32_t(x >> 32))) * 0x1.0p-31f;
        r = u * u + v * v;
    } while (r >= 1.0f || r == 0.0f);
    const float f = std::sqrt(-2.0f * std::log(r) / r);
    a = u * f;
    b = v * f;
}

Channel::Channel(const ChannelParams& p)
    : rotate(p.frequencyOffset != 0.0 || p.phaseDegrees != 0.0 || p.driftHzPerSecond != 0.0),
      noise(p.noise), rng(p.seed)
{
    const double w = 2.0 * kPi * p.frequencyOffset / p.sampleRate;
    phaseStepRe = std::cos(w);
    phaseStepIm = std::sin(w);
    // f(t) = offset + drift·t: the step turns by 2π·drift/fs² every sample.
    drifting = p.driftHzPerSecond != 0.0;
    const double dw = 2.0 * kPi * p.driftHzPerSecond / (p.sampleRate * p.sampleRate);
    driftRe = std::cos(dw);
    driftIm = std::sin(dw);
    // A walk of σ per symbol is σ/√(samples per symbol) per sample.
    walkSigma = p.phaseNoiseDegrees * kPi / 180.0 / std::sqrt(p.samplesPerSymbol);
    for (const Dropout& d : p.dropouts) {
        const int64_t first = int64_t(std::llround(d.start * p.sampleRate));
        dropoutSamples.emplace_back(first, first + int64_t(std::llround(d.seconds * p.sampleRate)));
        dropoutNoise.push_back(d.noise);
    }
    const double phi = p.phaseDegrees * kPi / 180.0;
    phasorRe = std::cos(phi);
    phasorIm = std::sin(phi);
    variance = p.samplesPerSymbol / std::pow(10.0, p.esn0Db / 10.0);
    sigma = float(std::sqrt(variance / 2.0));
}

bool Channel::inDropout(int64_t sample, bool& keepNoise) const
{
    for (size_t k = 0; k < dropoutSamples.size(); ++k)
        if (sample >= dropoutSamples[k].first && sample < dropoutSamples[k].second) {
            keepNoise = dropoutNoise[k];
            return true;
        }
    return false;
}

void Channel::process(cf32* x, size_t n)
{
    if (rotate) {
        for (size_t i = 0; i < n; ++i) {
            const double re = x[i].real(), im = x[i].imag();
            x[i] = cf32(float(re * phasorRe - im * phasorIm), float(re * phasorIm + im * phasorRe));
            const double pr = phasorRe * phaseStepRe - phasorIm * phaseStepIm;
            phasorIm = phasorRe * phaseStepIm + phasorIm * phaseStepRe;
            phasorRe = pr;
            if (drifting) {
                const double sr = phaseStepRe * driftRe - phaseStepIm * driftIm;
                phaseStepIm = phaseStepRe * driftIm + phaseStepIm * driftRe;
                phaseStepRe = sr;
            }
            if (++sinceNormalise == 4096) {
                const double m = 1.0 / std::sqrt(phasorRe * phasorRe + phasorIm * phasorIm);
                phasorRe *= m;
                phasorIm *= m;
                const double ms = 1.0 / std::sqrt(phaseStepRe * phaseStepRe + phaseStepIm * phaseStepIm);
                phaseStepRe *= ms;
                phaseStepIm *= ms;
                sinceNormalise = 0;
            }
        }
    }
    if (walkSigma > 0) {
        for (size_t i = 0; i < n; ++i) {
            float a, b;
            rng.pair(a, b);
            walkPhase = std::remainder(walkPhase + double(a) * walkSigma, 2.0 * kPi);
            x[i] *= cf32(float(std::cos(walkPhase)), float(std::sin(walkPhase)));
        }
    }
    const bool anyDropout = !dropoutSamples.empty();
    for (size_t i = 0; (noise || anyDropout) && i < n; ++i) {
        bool keepNoise = true;
        const bool gone = anyDropout && inDropout(sampleIndex + int64_t(i), keepNoise);
        if (gone)
            x[i] = cf32(0, 0);
        if (noise && (!gone || keepNoise)) {
            float a, b;
            rng.pair(a, b);
            x[i] += cf32(a * sigma, b * sigma);
        }
    }
    sampleIndex += int64_t(n);
}

} // namespace tx
