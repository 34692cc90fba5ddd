#include "dsp/FIRWorker.h"

#include "core/Log.h"

FIRWorker::FIRWorker(DoneCallback onDone)
    : Worker(std::move(onDone))
{
}

FIRWorker::~FIRWorker()
{
    stop();
}

void FIRWorker::designMatchedFilter(uint64_t sampleRate, int32_t symbolRate, int32_t taps, float rollOff)
{
    LogLine() << "samp_rate: " << sampleRate << ", sym_rate: " << symbolRate << ", taps: " << taps
              << ", beta: " << double(rollOff);
    // Only what the filter can run: a positive multiple of 16 up to 256 taps,
    // a positive symbol rate and a sample rate. Anything else turns it off.
    const bool usable = taps > 0 && taps % 16 == 0 && taps <= MatchedFilter::kMaxTaps && symbolRate > 0 &&
                        sampleRate > 0;
    if (!usable) {
        std::lock_guard<std::mutex> lock(paramMutex);
        design = {sampleRate, symbolRate, taps, rollOff};
        filter.disable();
        return;
    }
    const RrcDesign rrc = designRrc(sampleRate, symbolRate, taps, rollOff);
    std::lock_guard<std::mutex> lock(paramMutex);
    design = {sampleRate, symbolRate, taps, rollOff};
    filter.install(rrc);
}

bool FIRWorker::changeRollOff(float rollOff)
{
    Design now;
    {
        std::lock_guard<std::mutex> lock(paramMutex);
        if (!filter.enabled() || design.rollOff == rollOff)
            return false;
        now = design;
    }
    designMatchedFilter(now.sampleRate, now.symbolRate, now.taps, rollOff);
    return true;
}

float FIRWorker::rollOff()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return design.rollOff;
}

float FIRWorker::agcGain()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return filter.gain();
}

int FIRWorker::tapCount()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return filter.taps();
}

void FIRWorker::process(WorkBuffer* input, WorkBuffer* output)
{
    if (input == nullptr || output == nullptr)
        return;
    std::lock_guard<std::mutex> lock(paramMutex);
    if (!filter.enabled())
        return;
    // Room for two output samples per input sample.
    const size_t count = std::min(input->size() / 4, output->size() / 8);
    filter.process(reinterpret_cast<const int16_t*>(input->data()), count,
                   reinterpret_cast<int16_t*>(output->data()));
}
