// The channel after pulse shaping: carrier frequency and phase offset (with
// a linear drift and a random phase walk), dropouts of the signal, then
// complex white Gaussian noise at a given Es/N0 over the whole sampled band.
#pragma once

#include "tx/Constellations.h"

#include <cstdint>
#include <vector>

namespace tx {

// The signal gone for a while: silence, or the noise alone.
struct Dropout {
    double start = 0;     // seconds from the first sample
    double seconds = 0;
    bool noise = false;   // the channel's noise goes on (else: zeros)
};

// xoshiro256** with Marsaglia's polar method: fast, seeded, repeatable.
class GaussianNoise {
public:
    explicit GaussianNoise(uint64_t seed);
    double uniform(); // [0, 1)
    // Two independent N(0, 1) values.
    void pair(float& a, float& b);

private:
    uint64_t next();
    uint64_t s[4];
};

struct ChannelParams {
    double sampleRate = 2e6;
    double samplesPerSymbol = 2.0;
    double frequencyOffset = 0.0; // Hz; positive puts the carrier above the centre
    double phaseDegrees = 0.0;
    double driftHzPerSecond = 0.0;     // the carrier moves linearly from frequencyOffset
    double phaseNoiseDegrees = 0.0;    // Wiener phase walk: rms step per symbol
    std::vector<Dropout> dropouts;
    bool noise = false;
    double esn0Db = 100.0;        // Es: energy per symbol of the unit-power signal
    uint64_t seed = 1;
};

class Channel {
public:
    explicit Channel(const ChannelParams& params);

    // In place on samples of unit signal power.
    void process(cf32* samples, size_t n);

    // Noise power per complex sample: (fs / Rs) / (Es/N0).
    double noiseVariance() const { return variance; }

private:
    bool inDropout(int64_t sample, bool& keepNoise) const;

    double phaseStepRe, phaseStepIm;
    double driftRe = 1, driftIm = 0;   // the step's own turn per sample
    bool drifting = false;
    double walkSigma = 0;              // radians per sample
    double walkPhase = 0;
    std::vector<std::pair<int64_t, int64_t>> dropoutSamples;   // [first, end)
    std::vector<bool> dropoutNoise;
    int64_t sampleIndex = 0;
    double phasorRe, phasorIm;
    bool rotate;
    bool noise;
    double variance;
    float sigma; // per component
    GaussianNoise rng;
    int sinceNormalise = 0;
};

} // namespace tx
