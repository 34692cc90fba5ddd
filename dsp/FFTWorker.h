// Spectrum of the raw device samples, for the waterfall.
#pragma once

#include "core/Worker.h"
#include "dsp/Fft.h"

#include <atomic>

// Input: complex float samples (at least N); output: a buffer of the same
// size whose first N complex floats receive the transform of the first N
// inputs. N is one of 256 … 8192; any other value leaves the output alone.
class FFTWorker : public Worker {
public:
    static constexpr int kDefaultSize = 2048;

    explicit FFTWorker(DoneCallback onDone);
    ~FFTWorker() override;
    size_t objectSize() const override { return sizeof(*this); }
    void process(WorkBuffer* input, WorkBuffer* output) override;

    void setFftSize(int n) { fftSize.store(n); }
    int getFftSize() const { return fftSize.load(); }

private:
    std::atomic<int32_t> fftSize{kDefaultSize};
    FftSet ffts;
};
