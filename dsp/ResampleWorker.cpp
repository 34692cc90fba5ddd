#include "dsp/ResampleWorker.h"

#include "core/Log.h"

#include <algorithm>

namespace {

// A shift the hardware can do: 0..31.
int32_t shiftFrom(float v)
{
    if (!(v > 0))
        return 0;
    return v >= 31 ? 31 : int32_t(v);
}

} // namespace

ResampleWorker::ResampleWorker(DoneCallback onDone)
    : Worker(std::move(onDone))
{
}

ResampleWorker::~ResampleWorker()
{
    stop();
}

void ResampleWorker::setTEDGain(float v)
{
    LogLine() << "ResampleWorker::setTEDGain(" << v << ")";
    std::lock_guard<std::mutex> lock(paramMutex);
    resampler.setLoopShifts(shiftFrom(v), resampler.dampingShift());
}

void ResampleWorker::setTEDDamping(float v)
{
    LogLine() << "ResampleWorker::setTEDDamping(" << v << ")";
    std::lock_guard<std::mutex> lock(paramMutex);
    resampler.setLoopShifts(resampler.gainShift(), shiftFrom(v));
}

void ResampleWorker::setSymbolRate(double inputRate, double symbolRate)
{
    std::lock_guard<std::mutex> lock(paramMutex);
    resampler.setSymbolRate(inputRate, symbolRate);
}

int64_t ResampleWorker::trackedStep()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return resampler.trackedStep();
}

int64_t ResampleWorker::nominalStep()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return resampler.nominalStep();
}

int ResampleWorker::gainShift()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return int(resampler.gainShift());
}

int ResampleWorker::dampingShift()
{
    std::lock_guard<std::mutex> lock(paramMutex);
    return int(resampler.dampingShift());
}

void ResampleWorker::setDebugMode(bool on)
{
    debugMode.store(on);
}

void ResampleWorker::process(WorkBuffer* input, WorkBuffer* output)
{
    if (input == nullptr || output == nullptr)
        return;
    const bool perSample = debugMode.load();
    const size_t count = input->size() / 4;
    // At most one interpolant per input sample, so never more symbols than
    // input samples: an output as large as the input always has room.
    const size_t usable = std::min(count, output->size() / 4);
    size_t symbols;
    {
        std::lock_guard<std::mutex> lock(paramMutex);
        symbols = resampler.process(reinterpret_cast<const int16_t*>(input->data()), usable,
                                    reinterpret_cast<int16_t*>(output->data()), perSample);
        if (!receiving.load(std::memory_order_relaxed))
            resampler.relax(symbols);
    }
    output->resize(symbols * 4);
}
