// Whether the chain is receiving: frames (or packets) decoding now, not
// a lock counter's memory of them. Fed from the chain's worker threads,
// read from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

class ReceptionWatch {
public:
    using Clock = std::chrono::steady_clock;
    // Without a sample for this long the input has stalled.
    static constexpr std::chrono::milliseconds kInputStall{500};

    // DVB-S2, on the demodulator's thread: a block of `symbols` went by,
    // in which the framing delivered a frame of `frameSymbols` (0: none).
    // Frames count as arriving while one came within two frame lengths.
    void demodulated(size_t symbols, int frameSymbols);
    // DVB-S2, in transmission order: a frame left the decoders; decoded
    // unless LDPC or BCH failed on it.
    void frameReleased(bool decoded);
    // DVB-S: the outer decoder's sync held (or not) after a block.
    void dvbsSynchronised(bool held);
    // Forgets everything heard: another signal, standard or rate.
    void reset();

    // Samples arrived at `now`; `waiting` (the chain is behind, the input
    // held back on purpose) counts as arriving.
    void samplesArrived(Clock::time_point now) { lastSample.store(now.time_since_epoch().count(), std::memory_order_relaxed); }
    // How long no sample has come, once that is kInputStall or more; zero
    // before the first sample and while they come.
    Clock::duration inputStalledFor(Clock::time_point now) const;

    // DVB-S2: frames arriving and fewer than two failed in a row since the
    // last decoded one. DVB-S: the outer decoder's sync held.
    bool receiving(bool dvbS2) const;
    // DVB-S2: the framing delivered a frame within the last two frame lengths.
    bool framesArriving() const;

private:
    std::atomic<uint64_t> symbolsSinceFrame{UINT64_MAX / 2};
    std::atomic<int> lastFrameSymbols{0};
    std::atomic<int> failedInARow{0};
    std::atomic<bool> anyDecoded{false};
    std::atomic<bool> dvbsHeld{false};
    std::atomic<Clock::rep> lastSample{0};
};
