// The spectrum the waterfall shows: the magnitudes of the FFT worker's
// transforms, each chunk turned so that bin N/2 is zero frequency and scaled,
// summed until they are taken as an average.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

class SpectrumAverager {
public:
    // `minimum`: the chunks an average takes (16 for the waterfall).
    explicit SpectrumAverager(int size, int minimum = 16);

    // A new transform size N: the sums keep their first values (the first
    // tick after a change only rescales the display).
    void setSize(int n);
    int size() const { return n; }

    // Adds every whole chunk of N bins of a transform output.
    void accumulate(const std::complex<float>* bins, size_t count);
    // The sums averaged over their chunks once the minimum is in; the sums
    // are then cleared. False (and `average` untouched) before that.
    bool take(std::vector<float>& average);
    void clear();

private:
    std::vector<float> sums;
    int32_t chunks = 0;
    int32_t n;
    int32_t minimumChunks;
};
