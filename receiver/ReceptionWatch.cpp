#include "receiver/ReceptionWatch.h"

void ReceptionWatch::demodulated(size_t symbols, int frameSymbols)
{
    // One writer (the demodulator's thread): load and store suffice.
    if (frameSymbols > 0) {
        lastFrameSymbols.store(frameSymbols, std::memory_order_relaxed);
        symbolsSinceFrame.store(0, std::memory_order_relaxed);
        return;
    }
    const uint64_t since = symbolsSinceFrame.load(std::memory_order_relaxed);
    if (since < UINT64_MAX / 2)
        symbolsSinceFrame.store(since + symbols, std::memory_order_relaxed);
}

void ReceptionWatch::frameReleased(bool decoded)
{
    if (decoded) {
        failedInARow.store(0, std::memory_order_relaxed);
        anyDecoded.store(true, std::memory_order_relaxed);
    } else {
        failedInARow.fetch_add(1, std::memory_order_relaxed);
    }
}

void ReceptionWatch::dvbsSynchronised(bool held)
{
    dvbsHeld.store(held, std::memory_order_relaxed);
}

void ReceptionWatch::reset()
{
    symbolsSinceFrame.store(UINT64_MAX / 2, std::memory_order_relaxed);
    lastFrameSymbols.store(0, std::memory_order_relaxed);
    failedInARow.store(0, std::memory_order_relaxed);
    anyDecoded.store(false, std::memory_order_relaxed);
    dvbsHeld.store(false, std::memory_order_relaxed);
}

ReceptionWatch::Clock::duration ReceptionWatch::inputStalledFor(Clock::time_point now) const
{
    const Clock::rep last = lastSample.load(std::memory_order_relaxed);
    if (last == 0)
        return Clock::duration::zero();
    const Clock::duration quiet = now - Clock::time_point(Clock::duration(last));
    return quiet >= kInputStall ? quiet : Clock::duration::zero();
}

bool ReceptionWatch::framesArriving() const
{
    const uint64_t frame = uint64_t(lastFrameSymbols.load(std::memory_order_relaxed));
    return frame > 0 && symbolsSinceFrame.load(std::memory_order_relaxed) <= 2 * frame;
}

bool ReceptionWatch::receiving(bool dvbS2) const
{
    if (!dvbS2)
        return dvbsHeld.load(std::memory_order_relaxed);
    return framesArriving() && anyDecoded.load(std::memory_order_relaxed) &&
           failedInARow.load(std::memory_order_relaxed) < 2;
}
