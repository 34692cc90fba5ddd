#include "dsp/Fft.h"

#include <fftw3.h>
#include <mutex>

namespace {

// FFTW's planner keeps global state: plans are made one at a time.
std::mutex plannerMutex;

} // namespace

struct Fft::Plans {
    fftwf_plan aligned = nullptr;
    fftwf_plan unaligned = nullptr;
};

Fft::Fft(int size)
    : n(size), plans(std::make_unique<Plans>())
{
    std::lock_guard<std::mutex> lock(plannerMutex);
    auto* in = fftwf_alloc_complex(size_t(size));
    auto* out = fftwf_alloc_complex(size_t(size));
    plans->aligned = fftwf_plan_dft_1d(size, in, out, FFTW_FORWARD, FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
    plans->unaligned = fftwf_plan_dft_1d(size, in, out, FFTW_FORWARD, FFTW_ESTIMATE | FFTW_UNALIGNED | FFTW_PRESERVE_INPUT);
    fftwf_free(in);
    fftwf_free(out);
}

Fft::~Fft()
{
    std::lock_guard<std::mutex> lock(plannerMutex);
    fftwf_destroy_plan(plans->aligned);
    fftwf_destroy_plan(plans->unaligned);
}

void Fft::transform(const std::complex<float>* in, std::complex<float>* out) const
{
    auto* src = reinterpret_cast<fftwf_complex*>(const_cast<std::complex<float>*>(in));
    auto* dst = reinterpret_cast<fftwf_complex*>(out);
    // The aligned plan needs the alignment its planning arrays had.
    const bool aligned = fftwf_alignment_of(reinterpret_cast<float*>(src)) == 0 &&
                         fftwf_alignment_of(reinterpret_cast<float*>(dst)) == 0;
    fftwf_execute_dft(aligned ? plans->aligned : plans->unaligned, src, dst);
}

FftSet::FftSet()
{
    for (int i = 0; i < 6; ++i)
        ffts[i] = std::make_unique<Fft>(kFftSizes[i]);
}

const Fft* FftSet::forSize(int size) const
{
    for (int i = 0; i < 6; ++i)
        if (kFftSizes[i] == size)
            return ffts[i].get();
    return nullptr;
}
