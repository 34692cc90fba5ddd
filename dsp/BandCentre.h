// Where a carrier of known symbol rate lies in an averaged spectrum: found
// by the band's shape, not by demodulating it, so at any offset the matched
// filter and the framing could not reach, and at Es/N0 down to about 0 dB.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

struct BandCentre {
    bool found = false;
    double centre = 0;   // cycles per sample (bin N/2 is 0)
    double level = 0;    // the band's mean power above the floor, over the floor
};

// `magnitude`: N bins averaged, bin N/2 at zero frequency. `symbolRate` in
// cycles per sample; the centre is looked for within `within` of `around`
// (both cycles per sample). Found when the band of width `symbolRate`
// stands at least `minimumLevel` above the noise floor.
// The floor is the median power of the bins clear of the band, divided by
// `noiseMedianToMean`: how far the median of noise alone lies below its mean
// in such a spectrum. A single transform's noise powers are spread as an
// exponential, whose median is ln 2 of its mean: taken as the floor
// unscaled, noise alone stands 0.44 above it and passes for a band.
BandCentre findBandCentre(const std::vector<float>& magnitude, double symbolRate, double around, double within,
                          double minimumLevel = 0.3, double noiseMedianToMean = 1.0);

// The ratio for one transform's magnitudes.
constexpr double kSingleTransformMedianToMean = 0.6931471805599453;   // ln 2

// The ratio for the mean of `transforms` transforms' magnitudes (squared
// after averaging, as the search reads them): nearer 1 the more there are.
// 1 to 8; more read as 8.
double averagedTransformsMedianToMean(int transforms);

// Whether a weak band's centre can be trusted: an estimate stands when an
// earlier one, `lag` transforms back, agrees with it. Estimates one
// transform apart from a running mean of several share all but one
// transform, so their noise agrees with itself; where a band spans few
// bins, a stray centre a tenth of the symbol rate off, read twice from
// nearly the same spectra, would pass for the band. A lag of the mean's
// length compares estimates from different transforms.
class BandConfirmation {
public:
    // `depth`: the most transforms a mean is taken over.
    explicit BandConfirmation(int depth) : depth(depth) {}
    // Adds the estimate from transforms up to the one numbered `newest`
    // (numbered as they come); true when it agrees within `tolerance`
    // (cycles per sample) with the latest estimate from transforms up to
    // `newest` − `lag`.
    bool agrees(const BandCentre& band, uint64_t newest, int lag, double tolerance);
    void clear() { estimates.clear(); }

private:
    struct Estimate {
        uint64_t newest;
        BandCentre band;
    };
    std::deque<Estimate> estimates;   // newest first, none older than two means
    int depth;
};
