#include "app/DebugFeed.h"

#include "demod/PlSignalling.h"
#include "receiver/ProcessingChain.h"
#include "ui/DebugWindow.h"

DebugFeed::DebugFeed(ProcessingChain& receiver)
    : chain(receiver)
{
    chain.setFrameObserver([this](const int8_t* frame, uint8_t pls) {
        if (wanted.load(std::memory_order_relaxed))
            takeFrame(frame, plsShortFrame(pls) ? 16200 : 64800);
    });
}

void DebugFeed::takeFrame(const int8_t* frame, size_t count)
{
    std::array<uint32_t, 256> histogram{};
    for (size_t i = 0; i < count; ++i)
        ++histogram[size_t(int(frame[i]) + 128)];
    std::lock_guard<std::mutex> lock(countMutex);
    counts = histogram;
    fresh = true;
}

void DebugFeed::refresh(DebugWindow& window, int32_t symbolRate)
{
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double carrierHz = double(chain.demodWorker().carrierFrequency()) * double(symbolRate);
    const int64_t nominal = chain.resampleWorker().nominalStep();
    const double ppm =
        nominal > 0 ? (double(chain.resampleWorker().trackedStep()) / double(nominal) - 1.0) * 1e6 : 0.0;
    window.addLoopSample(seconds, carrierHz, ppm, chain.demodWorker().lockCounter());

    std::array<uint32_t, 256> last;
    {
        std::lock_guard<std::mutex> lock(countMutex);
        if (!fresh)
            return;
        fresh = false;
        last = counts;
    }
    window.setSoftValues(last);
}
