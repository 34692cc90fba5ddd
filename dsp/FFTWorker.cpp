#include "dsp/FFTWorker.h"

#include <complex>

FFTWorker::FFTWorker(DoneCallback onDone)
    : Worker(std::move(onDone))
{
}

FFTWorker::~FFTWorker()
{
    stop();
}

void FFTWorker::process(WorkBuffer* input, WorkBuffer* output)
{
    if (input == nullptr || output == nullptr)
        return;
    const int n = fftSize.load();
    const Fft* fft = ffts.forSize(n);
    const size_t bytes = size_t(n) * sizeof(std::complex<float>);
    if (fft == nullptr || input->size() < bytes || output->size() < bytes)
        return;
    fft->transform(reinterpret_cast<const std::complex<float>*>(input->data()),
                   reinterpret_cast<std::complex<float>*>(output->data()));
}
