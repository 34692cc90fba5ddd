// The carriers in a band, read from its averaged power spectrum: where each
// stands above the noise floor, how wide it is, and so its symbol rate and
// Es/N0. An RRC-shaped carrier's power falls to half its flat top at ±Rs/2
// from its centre whatever its roll-off, so the width at half the top is the
// symbol rate, and the top over the floor is Es/N0.
#pragma once

#include <vector>

struct FoundCarrier {
    double centre = 0;       // cycles per sample, 0 at the band's centre
    double symbolRate = 0;   // cycles per sample: the width at half the top
    double lowerEdge = 0;    // cycles per sample, where the top has fallen to half
    double upperEdge = 0;
    double esn0Db = 0;       // the flat top over the floor
};

struct CarrierSearch {
    // Bins (smoothed over `smoothing` of them) standing this far above the
    // floor (as a fraction of it) belong to a carrier: 0.5 is 1.8 dB, six
    // spreads of the floor in the mean of 50 transforms.
    double threshold = 0.5;
    int smoothing = 3;
    // Narrower carriers (in bins, at half their top) are not reported.
    int minimumBins = 4;
    // A dip between two tops to less than this fraction of the lower one
    // splits two carriers that touch.
    double splitDepth = 0.5;
    // A piece within a bandwidth of a carrier whose top stands more than
    // this many times higher is that carrier's shoulder (a transmitter's
    // filter sidelobes, spectral regrowth), not a carrier of its own.
    double shoulderRatio = 20;
    // The floor as given (> 0) instead of as bandFloor() finds it.
    double floor = 0;
};

// `power`: N bins of the mean power spectrum, bin N/2 at zero frequency.
// Carriers in order of frequency; none in noise alone.
std::vector<FoundCarrier> findCarriers(const std::vector<float>& power, const CarrierSearch& search = {});

// The floor: the median of the bins clear of carriers, found again without
// those that stand out, as often as it moves. Its ratio to the mean of
// noise alone is near 1 for the mean of many transforms.
double bandFloor(const std::vector<float>& power, double threshold = 0.5);

// A band filled by one carrier leaves the floor only at its edges: the
// floor there, the mean of the lowest `share` of the bins, when the median
// stands at least `over` times higher (never so in noise alone); else 0.
double filledBandFloor(const std::vector<float>& power, double share = 0.02, double over = 2.0);
