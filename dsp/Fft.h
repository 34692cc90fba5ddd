// Forward complex FFTs of the spectrum sizes, planned once.
#pragma once

#include <complex>
#include <memory>

// out[k] = Σ in[n]·e^(−j2πkn/N), natural order, unscaled, out of place, on
// interleaved single-precision complex values. One object per size, with a
// plan for aligned and one for unaligned arrays; executing is thread-safe,
// planning (construction) is serialised internally.
class Fft {
public:
    explicit Fft(int size);
    ~Fft();
    Fft(const Fft&) = delete;
    Fft& operator=(const Fft&) = delete;

    int size() const { return n; }
    // Uses the aligned plan when both pointers are aligned for it.
    void transform(const std::complex<float>* in, std::complex<float>* out) const;

private:
    struct Plans;
    int n;
    std::unique_ptr<Plans> plans;
};

// The sizes the spectrum offers: 256 … 8192.
constexpr int kFftSizes[] = {256, 512, 1024, 2048, 4096, 8192};
// The Fft of `size` from a set built for kFftSizes, or null for other sizes.
class FftSet {
public:
    FftSet();
    const Fft* forSize(int size) const;

private:
    std::unique_ptr<Fft> ffts[6];
};
