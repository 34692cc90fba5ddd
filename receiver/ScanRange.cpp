#include "receiver/ScanRange.h"

#include <algorithm>
#include <cmath>

std::vector<ScanStep> scanSteps(double startHz, double stopHz, double sampleRate)
{
    const double width = sampleRate / 2;
    const int count = std::max(1, int(std::ceil((stopHz - startHz) / width - 1e-9)));
    std::vector<ScanStep> steps(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        ScanStep& s = steps[size_t(i)];
        s.fromHz = startHz + i * width;
        s.toHz = i + 1 == count ? std::nextafter(stopHz, stopHz + 1) : s.fromHz + width;
        s.centreHz = s.fromHz + width / 2;
    }
    return steps;
}

void mergeStep(std::vector<RangeCarrier>& range, const std::vector<ScannedCarrier>& found, const ScanStep& step)
{
    for (const ScannedCarrier& c : found) {
        RangeCarrier candidate{c, step.centreHz};
        const double f = candidate.frequencyHz();
        if (f < step.fromHz || f >= step.toHz)
            continue;
        // On a window's edge a carrier may be answered for twice.
        const bool listed = std::any_of(range.begin(), range.end(), [&](const RangeCarrier& r) {
            SurveyedCarrier a = r.carrier.surveyed, b = c.surveyed;
            a.offsetHz = r.frequencyHz();
            b.offsetHz = f;
            return sameCarrier(a, b);
        });
        if (!listed)
            range.push_back(candidate);
    }
    std::sort(range.begin(), range.end(),
              [](const RangeCarrier& a, const RangeCarrier& b) { return a.frequencyHz() < b.frequencyHz(); });
}
