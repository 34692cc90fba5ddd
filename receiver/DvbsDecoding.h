// The DVB-S stream layer as the chain runs it on the Viterbi worker's thread:
// the outer decoder and the automatic alignment search. What other threads
// ask of them (a sync reset, the Reed–Solomon switch, the search on or off)
// is taken before each block; what they show is published after it.
#pragma once

#include "fec/DvbS1OuterDecoder.h"
#include "fec/DvbsAlignmentSearch.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

class DvbsDecoding {
public:
    // Where finished packets go, and how the search turns the constellation
    // (0, 64, 128, 192 on top of the slider) and drops a soft value: both in
    // the Viterbi decoder, from its next block.
    DvbsDecoding(DvbS1OuterDecoder::PacketSink packets, std::function<void(int)> turn, std::function<void()> turnSenseOver,
                 std::function<void()> skipSoftValue);

    // Viterbi worker's thread: one block of decoded bytes and the
    // depuncturing period in force.
    void decode(const uint8_t* bytes, size_t count, int period);

    // Any thread.
    void requestSyncReset() { resetRequested.store(true); }
    void setReedSolomonEnabled(bool on) { rsEnabled.store(on); }
    bool reedSolomonEnabled() const { return rsEnabled.load(); }
    void setAlignmentSearch(bool on) { searchEnabled.store(on); }
    bool alignmentSearch() const { return searchEnabled.load(); }

    // As the last block left them.
    struct Status {
        int syncState = 0;            // 0 hunting … 3 locked
        uint16_t confidence = 0;      // 0 … 32
        uint32_t lockedPackets = 0;   // boundaries since the lock was taken
        uint64_t uncorrectable = 0;   // words Reed–Solomon could not correct
        int derotation = 0;           // the search's turn
        uint32_t searchSteps = 0;     // combinations left behind
        bool settled = false;         // the search's combination holds a lasting lock
        uint32_t resets = 0;          // sync resets asked for and carried out
    };
    Status status() const;

private:
    DvbS1OuterDecoder outer;
    DvbsAlignmentSearch alignment;

    std::atomic<bool> resetRequested{false};
    std::atomic<bool> rsEnabled{true};
    std::atomic<bool> searchEnabled{false};
    std::atomic<int> syncState{0};
    std::atomic<uint16_t> confidence{0};
    std::atomic<uint32_t> lockedPackets{0};
    std::atomic<uint64_t> uncorrectable{0};
    std::atomic<int> derotation{0};
    std::atomic<uint32_t> searchSteps{0};
    std::atomic<bool> settled{false};
    std::atomic<uint32_t> resets{0};
};
