#include "dsp/BandCentre.h"

#include <algorithm>
#include <cmath>

double averagedTransformsMedianToMean(int transforms)
{
    // The median over the mean of (Σ|z|/n)² for complex Gaussian noise z,
    // drawn 8·10^6 times for each n.
    static constexpr double kRatio[] = {kSingleTransformMedianToMean, 0.8303, 0.8824, 0.9098,
                                        0.9270, 0.9388, 0.9473, 0.9537};
    constexpr int kKnown = int(sizeof(kRatio) / sizeof(kRatio[0]));
    return kRatio[std::clamp(transforms, 1, kKnown) - 1];
}

BandCentre findBandCentre(const std::vector<float>& magnitude, double symbolRate, double around, double within,
                          double minimumLevel, double noiseMedianToMean)
{
    BandCentre result;
    const int n = int(magnitude.size());
    const int width = int(std::lround(symbolRate * n));
    if (n < 64 || width < 8 || width > n - 8)
        return result;

    std::vector<double> power(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k)
        power[size_t(k)] = double(magnitude[size_t(k)]) * double(magnitude[size_t(k)]);
    // The floor: the band and its neighbours take up less than four fifths
    // of the bins in any spectrum worth searching.
    std::vector<double> sorted = power;
    std::nth_element(sorted.begin(), sorted.begin() + n / 5, sorted.end());
    const double floor = sorted[size_t(n / 5)];
    if (floor <= 0)
        return result;

    // A window of the symbol rate's width slid over the centres allowed: the
    // band's flat top and half of each slope fill it where it is centred.
    std::vector<double> sums(size_t(n) + 1, 0.0);
    for (int k = 0; k < n; ++k)
        sums[size_t(k) + 1] = sums[size_t(k)] + power[size_t(k)] - floor;
    const int half = width / 2;
    const int lowest = std::max(half, int(std::ceil((around - within) * n)) + n / 2);
    const int highest = std::min(n - 1 - half, int(std::floor((around + within) * n)) + n / 2);
    int best = -1;
    double bestSum = 0;
    for (int c = lowest; c <= highest; ++c) {
        const double s = sums[size_t(c + half + 1)] - sums[size_t(c - half)];
        if (best < 0 || s > bestSum) {
            best = c;
            bestSum = s;
        }
    }
    if (best < 0)
        return result;
    // The floor again, from the bins clear of the band where there are
    // enough of them: their median, which neighbouring carriers taking up
    // less than half of them do not move. On a crowded band (carriers over
    // more than half of it) the bins just beside the band are more often
    // floor: the lower of the two medians.
    const auto median = [](std::vector<double>& bins) {
        std::nth_element(bins.begin(), bins.begin() + long(bins.size() / 2), bins.end());
        return bins[bins.size() / 2];
    };
    std::vector<double> outside, beside;
    outside.reserve(size_t(n));
    for (int k = 0; k < n; ++k) {
        const int distance = std::abs(k - best);
        if (distance > int(0.8 * width)) {
            outside.push_back(power[size_t(k)]);
            if (distance <= int(0.8 * width) + std::max(width, 16))
                beside.push_back(power[size_t(k)]);
        }
    }
    double noise = floor;
    if (int(outside.size()) >= n / 8) {
        noise = median(outside);
        if (beside.size() >= 16)
            noise = std::min(noise, median(beside));
        noise /= noiseMedianToMean;
    }

    // The power's centre of mass over the band, taken again around each
    // estimate: unbiased once the span is centred, and far steadier in the
    // noise than the band's edges. The span leaves out the roll-off's tails.
    const double reach = 0.7 * width;
    double centreBin = best;
    for (int pass = 0; pass < 4; ++pass) {
        const int a = std::max(0, int(std::ceil(centreBin - reach)));
        const int b = std::min(n - 1, int(std::floor(centreBin + reach)));
        // Bins below the floor weigh nothing: a negative weight could carry
        // the centre anywhere.
        double mass = 0, moment = 0;
        for (int k = a; k <= b; ++k) {
            const double p = std::max(power[size_t(k)] - noise, 0.0);
            mass += p;
            moment += p * k;
        }
        if (mass <= 0)
            return result;
        centreBin = moment / mass;
    }
    // The band is where the window found it, not beyond the search.
    if (std::fabs(centreBin - best) > reach)
        return result;
    double inBand = 0;
    int inBandCount = 0;
    for (int k = std::max(0, int(centreBin) - half); k <= std::min(n - 1, int(centreBin) + half); ++k) {
        inBand += power[size_t(k)] - noise;
        ++inBandCount;
    }
    const double level = inBandCount > 0 ? inBand / inBandCount : 0.0;
    if (level < minimumLevel * noise)
        return result;
    result.found = true;
    result.centre = (centreBin - n / 2) / double(n);
    result.level = level / noise;
    return result;
}

bool BandConfirmation::agrees(const BandCentre& band, uint64_t newest, int lag, double tolerance)
{
    while (!estimates.empty() && estimates.front().newest >= newest)   // numbering started again
        estimates.pop_front();
    estimates.push_front({newest, band});
    while (estimates.size() > 1 && estimates.back().newest + 2 * uint64_t(depth) < newest)
        estimates.pop_back();
    if (!band.found || lag < 1)
        return false;
    for (size_t k = 1; k < estimates.size(); ++k)
        if (estimates[k].newest + uint64_t(lag) <= newest)
            return estimates[k].band.found && std::fabs(band.centre - estimates[k].band.centre) < tolerance;
    return false;
}
