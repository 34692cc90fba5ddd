#include "dsp/SymbolRateMeter.h"

#include "dsp/HalfBandDecimator.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// The half-band stage of the chain's decimator, in floats: clean up to
// ±0.084 of its input rate, 74 dB down from 0.416.
constexpr int kHalfBandTaps = HalfBandDecimator::kTaps;
inline float halfBandTap(int t)
{
    return float(HalfBandDecimator::kCoefficients[size_t(t)]) / 32768.0f;
}
// After the halvings at least this many samples per symbol remain: the
// band's edges (0.68 Rs at roll-off 0.35, plus a stray of the centre) lie
// within the last stage's clean ±0.168 of its output rate.
constexpr double kSamplesPerSymbol = 4.5;
constexpr int kLowPassTaps = 129;

} // namespace

SymbolRateMeter::SymbolRateMeter(double centre, double estimate, double search)
    : estimate(estimate), search(search), step(std::polar(1.0, -2 * kPi * centre)), fft(kTransformSize)
{
    while (stageCount < 12 && std::ldexp(1.0, -(stageCount + 1)) >= kSamplesPerSymbol * estimate)
        ++stageCount;
    stages.resize(size_t(stageCount));
    for (HalfBand& s : stages)
        s.history.assign(kHalfBandTaps - 1, 0);
    // A Blackman-windowed sinc cutting at 0.8 Rs: the neighbours the halvings
    // left go, the band's edges stay.
    const double cutoff = std::min(0.45, 0.8 * std::ldexp(estimate, stageCount));
    lowPass.resize(kLowPassTaps);
    double sum = 0;
    for (int k = 0; k < kLowPassTaps; ++k) {
        const double t = k - (kLowPassTaps - 1) / 2.0;
        const double sinc = t == 0 ? 2 * cutoff : std::sin(2 * kPi * cutoff * t) / (kPi * t);
        const double w = 0.42 - 0.5 * std::cos(2 * kPi * k / (kLowPassTaps - 1)) +
                         0.08 * std::cos(4 * kPi * k / (kLowPassTaps - 1));
        lowPass[size_t(k)] = float(sinc * w);
        sum += sinc * w;
    }
    for (float& c : lowPass)
        c = float(c / sum);
    lowPassHistory.assign(2 * kLowPassTaps, 0);
    window.resize(kTransformSize);
    for (int k = 0; k < kTransformSize; ++k)
        window[size_t(k)] = float(0.5 - 0.5 * std::cos(2 * kPi * k / kTransformSize));
    squares.reserve(kTransformSize);
    transformed.resize(kTransformSize);
    spectrum.assign(kTransformSize / 2 + 2, 0.0);   // to half the rate, and its mirror beyond
}

SymbolRateMeter::~SymbolRateMeter() = default;

size_t SymbolRateMeter::samplesWanted() const
{
    if (taken >= kTransformsWanted || clear)
        return 0;
    const size_t squaresWanted = size_t(kTransformsWanted - taken) * kTransformSize - squares.size();
    return squaresWanted << stageCount;
}

void SymbolRateMeter::add(const std::complex<float>* samples, size_t count)
{
    for (size_t k = 0; k < count; ++k) {
        const std::complex<float> mixed = samples[k] * std::complex<float>(phasor);
        phasor *= step;
        if (++sinceNormalise == 1024) {
            phasor /= std::abs(phasor);
            sinceNormalise = 0;
        }
        if (stageCount > 0)
            halve(0, mixed);
        else
            filtered(mixed);
    }
}

void SymbolRateMeter::halve(size_t stage, std::complex<float> x)
{
    HalfBand& s = stages[stage];
    s.history.push_back(x);
    const bool second = s.odd;
    s.odd = !s.odd;
    if (second) {
        std::complex<float> y = 0;
        const size_t first = s.history.size() - kHalfBandTaps;
        for (int t = 0; t < kHalfBandTaps; ++t)
            y += halfBandTap(t) * s.history[first + size_t(t)];
        if (stage + 1 < stages.size())
            halve(stage + 1, y);
        else
            filtered(y);
    }
    if (s.history.size() >= 4 * kHalfBandTaps)
        s.history.erase(s.history.begin(), s.history.end() - (kHalfBandTaps - 1));
}

void SymbolRateMeter::filtered(std::complex<float> x)
{
    // A doubled ring: the taps always read kLowPassTaps samples in a row.
    lowPassHistory[lowPassPos] = x;
    lowPassHistory[lowPassPos + kLowPassTaps] = x;
    lowPassPos = (lowPassPos + 1) % kLowPassTaps;
    float re = 0, im = 0;
    const std::complex<float>* h = lowPassHistory.data() + lowPassPos;
    for (int t = 0; t < kLowPassTaps; ++t) {
        re += lowPass[size_t(t)] * h[t].real();
        im += lowPass[size_t(t)] * h[t].imag();
    }
    squares.emplace_back(re * re + im * im, 0.0f);
    if (squares.size() < size_t(kTransformSize))
        return;
    // The mean of the squares would only fill the bins about zero; the
    // window keeps the line to a few bins.
    double mean = 0;
    for (const auto& s : squares)
        mean += s.real();
    mean /= kTransformSize;
    for (int k = 0; k < kTransformSize; ++k)
        squares[size_t(k)] = {float((squares[size_t(k)].real() - mean) * window[size_t(k)]), 0.0f};
    fft.transform(squares.data(), transformed.data());
    // The squares are real: bins beyond half the rate mirror those below,
    // and a line at exactly half of it (two samples per symbol) has its
    // neighbours on either side.
    for (int k = 0; k <= kTransformSize / 2 + 1; ++k)
        spectrum[size_t(k)] += std::norm(transformed[size_t(k)]);
    ++taken;
    squares.clear();
    clear = taken >= kTransformsEarly && lineOverFloor() >= kClearLine;
}

void SymbolRateMeter::peak(int& bin, double& offset, double& over) const
{
    bin = -1;
    offset = 0;
    over = 0;
    if (taken == 0)
        return;
    // The line lies at the rate in cycles per sample after the halvings;
    // a rate above half the sample rate (a carrier filling the band) shows
    // folded, at the sample rate less the symbol rate.
    const double rate = std::ldexp(estimate, stageCount);
    const double expected = (rate > 0.5 ? 1 - rate : rate) * kTransformSize;
    const int low = std::max(2, int(std::floor(expected * (1 - search))));
    const int high = std::min(kTransformSize / 2, int(std::ceil(expected * (1 + search))));
    if (high <= low)
        return;
    std::vector<double> searched(spectrum.begin() + low, spectrum.begin() + high + 1);
    bin = low + int(std::max_element(searched.begin(), searched.end()) - searched.begin());
    std::nth_element(searched.begin(), searched.begin() + long(searched.size() / 2), searched.end());
    const double median = searched[searched.size() / 2];
    over = median > 0 ? spectrum[size_t(bin)] / median : 0;
    // A parabola through the logarithms of the peak and its neighbours: the
    // Hann window's main lobe is near a Gaussian there.
    const double a = std::log(std::max(spectrum[size_t(bin - 1)], 1e-30));
    const double b = std::log(std::max(spectrum[size_t(bin)], 1e-30));
    const double c = std::log(std::max(spectrum[size_t(bin + 1)], 1e-30));
    const double denominator = a - 2 * b + c;
    offset = denominator < 0 ? 0.5 * (a - c) / denominator : 0;
}

double SymbolRateMeter::lineOverFloor() const
{
    int bin;
    double offset, over;
    peak(bin, offset, over);
    return over;
}

double SymbolRateMeter::measure() const
{
    int bin;
    double offset, over;
    peak(bin, offset, over);
    if (bin < 0 || over < kMinimumLine)
        return 0;
    const double line = (bin + offset) / kTransformSize;
    return std::ldexp(std::ldexp(estimate, stageCount) > 0.5 ? 1 - line : line, -stageCount);
}
