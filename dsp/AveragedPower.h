// The mean power spectrum of a run of complex samples (Hann-windowed
// transforms of N samples one after the other), as the band scan reads it.
#pragma once

#include "dsp/Fft.h"

#include <complex>
#include <cstddef>
#include <vector>

class AveragedPower {
public:
    explicit AveragedPower(int size);

    int size() const { return fft.size(); }
    // Any number of samples; each N completed is a transform.
    void add(const std::complex<float>* samples, size_t count);
    int transforms() const { return taken; }
    // The mean power per bin (the window's power taken out, so noise of power
    // σ² per sample reads σ² in every bin), bin N/2 at zero frequency.
    std::vector<float> mean() const;
    void clear();

private:
    Fft fft;
    std::vector<float> window;
    std::vector<std::complex<float>> pending;
    std::vector<std::complex<float>> transformed;
    std::vector<double> sums;
    double windowPower = 0;
    int taken = 0;
};
