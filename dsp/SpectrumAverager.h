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
    // An average is given out once `minimum` transforms have been added
    // (the display waits for 16; the band search for fewer).
    explicit SpectrumAverager(int size, int minimum = 16);

    // A new transform size N: the sums keep their first values (the first
    // tick after a change only rescales the display).
    void setSize(int n);
    int size() const { return n; }

    // Adds every whole chunk of N bins of a transform output.
    void accumulate(const std::complex<float>* bins, size_t count);
    // The mean of what was added, once enough has been; the sums start
    // again from zero. False (and `average` untouched) until then.
    bool take(std::vector<float>& average);
    void clear();

private:
    std::vector<float> sums;
    int32_t chunks = 0;
    int32_t n;
    int32_t minimumChunks;
};
