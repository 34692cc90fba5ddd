// Measures a carrier's symbol rate from the signal: the squared envelope of
// a linearly modulated carrier with a roll-off holds a spectral line at the
// symbol rate (where the band's two roll-off edges beat). The carrier is
// mixed to zero, halved in rate until a few samples per symbol remain,
// low-pass filtered, squared, and the mean power spectrum of the squares is
// searched near the rate the band's width gave.
#pragma once

#include "dsp/Fft.h"

#include <complex>
#include <cstddef>
#include <vector>

class SymbolRateMeter {
public:
    // `centre` and `estimate` in cycles per input sample (`estimate` from
    // the band's width, within `search` of the true rate as a fraction).
    SymbolRateMeter(double centre, double estimate, double search = 0.1);
    ~SymbolRateMeter();

    // Input samples, any number at a time.
    void add(const std::complex<float>* samples, size_t count);
    // Transforms of the squares taken so far; enough for a clear line once
    // kTransformsWanted have been.
    int transforms() const { return taken; }
    static constexpr int kTransformsWanted = 16;
    // A line this far above the squares' floor after kTransformsEarly
    // transforms is clear already: no more are wanted.
    static constexpr int kTransformsEarly = 4;
    static constexpr double kClearLine = 40;
    static constexpr int kTransformSize = 16384;
    // Input samples still needed for the transforms wanted (0: enough).
    size_t samplesWanted() const;

    // The rate measured (cycles per input sample), or 0 when no line stands
    // clear of the squares' spectrum around the estimate (`lineOverFloor`
    // below kMinimumLine), or no transform has been taken.
    double measure() const;
    static constexpr double kMinimumLine = 8;
    // How far the line stands above the median of the bins searched.
    double lineOverFloor() const;

    // The halvings used (the rate after them is 2^-halvings of the input's).
    int halvings() const { return stageCount; }

private:
    struct HalfBand {
        std::vector<std::complex<float>> history;   // the last taps − 1 inputs
        bool odd = false;                            // the next input is the second of a pair
    };
    double estimate;
    double search;
    // Mixer.
    std::complex<double> phasor{1, 0};
    std::complex<double> step;
    int sinceNormalise = 0;
    // Halvings and the final low-pass filter.
    int stageCount = 0;
    std::vector<HalfBand> stages;
    std::vector<float> lowPass;
    std::vector<std::complex<float>> lowPassHistory;
    size_t lowPassPos = 0;
    // Squares gathered for the next transform, and the mean spectrum.
    std::vector<float> window;
    std::vector<std::complex<float>> squares;
    std::vector<std::complex<float>> transformed;
    std::vector<double> spectrum;
    int taken = 0;
    bool clear = false;
    Fft fft;

    void halve(size_t stage, std::complex<float> x);
    void filtered(std::complex<float> x);
    void peak(int& bin, double& offset, double& over) const;
};
