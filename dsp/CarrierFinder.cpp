#include "dsp/CarrierFinder.h"

#include <algorithm>
#include <cmath>

double bandFloor(const std::vector<float>& power, double threshold)
{
    const size_t n = power.size();
    if (n == 0)
        return 0;
    std::vector<float> clear(power);
    double floor = 0;
    for (int round = 0; round < 6; ++round) {
        std::vector<float> sorted(clear);
        if (sorted.empty())
            break;
        std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
        const double median = sorted[sorted.size() / 2];
        if (median == floor)
            break;
        floor = median;
        clear.clear();
        for (float p : power)
            if (p <= floor * (1 + threshold))
                clear.push_back(p);
    }
    return floor;
}

double filledBandFloor(const std::vector<float>& power, double share, double over)
{
    const size_t n = power.size();
    const size_t lowest = std::max<size_t>(size_t(double(n) * share), 1);
    if (n < 16 || lowest >= n / 2)
        return 0;
    std::vector<float> sorted(power);
    std::sort(sorted.begin(), sorted.end());
    double sum = 0;
    for (size_t k = 0; k < lowest; ++k)
        sum += sorted[k];
    const double floor = sum / double(lowest);
    return floor > 0 && sorted[n / 2] >= over * floor ? floor : 0;
}

namespace {

struct Piece {
    int first;   // bins [first, last]
    int last;
};

// Splits a run of bins above the threshold where it dips between two tops.
void split(const std::vector<double>& excess, Piece piece, double depth, std::vector<Piece>& out)
{
    int deepest = -1;
    double deepestRatio = depth;
    double leftMax = excess[size_t(piece.first)];
    std::vector<double> rightMax(size_t(piece.last - piece.first + 1));
    double m = 0;
    for (int k = piece.last; k >= piece.first; --k) {
        m = std::max(m, excess[size_t(k)]);
        rightMax[size_t(k - piece.first)] = m;
    }
    for (int k = piece.first + 1; k < piece.last; ++k) {
        leftMax = std::max(leftMax, excess[size_t(k)]);
        const double lower = std::min(leftMax, rightMax[size_t(k - piece.first)]);
        if (lower <= 0)
            continue;
        const double ratio = excess[size_t(k)] / lower;
        if (ratio < deepestRatio) {
            deepestRatio = ratio;
            deepest = k;
        }
    }
    if (deepest < 0) {
        out.push_back(piece);
        return;
    }
    split(excess, {piece.first, deepest}, depth, out);
    split(excess, {deepest, piece.last}, depth, out);
}

// Where the excess crosses `level` going outward from `from` by `step`,
// interpolated between bins; the run's end when it never does.
double crossing(const std::vector<double>& excess, int from, int step, int end, double level)
{
    for (int k = from; k != end; k += step) {
        const double a = excess[size_t(k)];
        const double b = excess[size_t(k + step)];
        if (b < level && a >= level)
            return k + step * (a - level) / (a - b);
    }
    return end;
}

} // namespace

std::vector<FoundCarrier> findCarriers(const std::vector<float>& power, const CarrierSearch& search)
{
    std::vector<FoundCarrier> found;
    const int n = int(power.size());
    const double floor = search.floor > 0 ? search.floor : bandFloor(power, search.threshold);
    if (n < 16 || floor <= 0)
        return found;
    // The excess over the floor, in floors, smoothed.
    const int half = std::max(search.smoothing, 1) / 2;
    std::vector<double> excess(size_t(n), 0.0);
    for (int k = 0; k < n; ++k) {
        double sum = 0;
        int count = 0;
        for (int j = std::max(0, k - half); j <= std::min(n - 1, k + half); ++j, ++count)
            sum += power[size_t(j)];
        excess[size_t(k)] = sum / count / floor - 1;
    }
    std::vector<Piece> pieces;
    for (int k = 0; k < n;) {
        if (excess[size_t(k)] <= search.threshold) {
            ++k;
            continue;
        }
        int end = k;
        while (end + 1 < n && excess[size_t(end + 1)] > search.threshold)
            ++end;
        // Out to where the slopes meet the floor, so the half-top crossings
        // lie inside.
        int first = k, last = end;
        while (first > 0 && excess[size_t(first - 1)] > 0 && excess[size_t(first - 1)] < excess[size_t(first)])
            --first;
        while (last + 1 < n && excess[size_t(last + 1)] > 0 && excess[size_t(last + 1)] < excess[size_t(last)])
            ++last;
        split(excess, {first, last}, search.splitDepth, pieces);
        k = end + 1;
    }
    struct Candidate {
        FoundCarrier carrier;
        double level;
    };
    std::vector<Candidate> candidates;
    for (const Piece& piece : pieces) {
        // The flat top: the median of the bins above the threshold, which
        // are mostly the top's; a spectral line or a spur on it (a carrier
        // of repetitive data, a beacon) moves it no more than another bin.
        std::vector<double> top;
        int firstAbove = -1, lastAbove = -1;
        for (int k = piece.first; k <= piece.last; ++k)
            if (excess[size_t(k)] > search.threshold) {
                top.push_back(excess[size_t(k)]);
                firstAbove = firstAbove < 0 ? k : firstAbove;
                lastAbove = k;
            }
        if (top.empty())
            continue;
        std::nth_element(top.begin(), top.begin() + long(top.size() / 2), top.end());
        const double level = top[top.size() / 2];
        if (level <= search.threshold)
            continue;
        // Outward from the middle of the top to where it has fallen to half.
        const int middle = (firstAbove + lastAbove) / 2;
        const double lower = crossing(excess, middle, -1, piece.first, level / 2);
        const double upper = crossing(excess, middle, 1, piece.last, level / 2);
        if (upper - lower < search.minimumBins)
            continue;
        FoundCarrier c;
        // Bin k is frequency (k − N/2) / N; the smoothing is symmetric.
        c.lowerEdge = (lower - n / 2) / n;
        c.upperEdge = (upper - n / 2) / n;
        c.centre = (c.lowerEdge + c.upperEdge) / 2;
        c.symbolRate = c.upperEdge - c.lowerEdge;
        c.esn0Db = 10 * std::log10(level);
        candidates.push_back({c, level});
    }
    for (const Candidate& c : candidates) {
        // Within a bandwidth of a carrier standing that much higher, a
        // piece is that carrier's shoulder or sidelobe: a clean carrier's
        // filter sidelobes stand above a floor of mere quantisation noise
        // all across the band.
        bool shoulder = false;
        for (const Candidate& t : candidates) {
            const double gap = std::max(c.carrier.lowerEdge - t.carrier.upperEdge, t.carrier.lowerEdge - c.carrier.upperEdge);
            if (t.level > c.level * search.shoulderRatio && gap <= t.carrier.symbolRate)
                shoulder = true;
        }
        if (shoulder)
            continue;
        found.push_back(c.carrier);
    }
    return found;
}
