// What the debug window plots, gathered from the receiver: the soft values of
// the last DVB-S2 frame (taken on the demodulator's thread, only while the
// window is open) and the loops' state on each refresh.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

class DebugWindow;
class ProcessingChain;

class DebugFeed {
public:
    // Installs the chain's frame observer; call before the chain starts.
    explicit DebugFeed(ProcessingChain& chain);

    // Frames are counted only while wanted (the window is open).
    void setWanted(bool on) { wanted.store(on); }
    // Demodulator thread: one frame of soft values.
    void takeFrame(const int8_t* frame, size_t count);

    // GUI thread, each refresh while the window is open.
    void refresh(DebugWindow& window, int32_t symbolRate);

private:
    ProcessingChain& chain;
    std::atomic<bool> wanted{false};
    std::mutex countMutex;
    std::array<uint32_t, 256> counts{};   // soft values −128 … 127 of the last frame
    bool fresh = false;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};
