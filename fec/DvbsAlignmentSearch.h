// Automatic DVB-S alignment: finds the QPSK rotation and the depuncturing
// phase by watching the outer decoder's sync, instead of the user turning the
// derotation slider and pressing the symbol-skip button.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

// Off by default. While on, a combination (rotation 0, 64, 128 or 192 of 256;
// 0 … period − 1 dropped soft values) is kept as long as the outer decoder
// holds its lock; when no lasting lock has been seen for `patience` decoded
// bits the next combination is tried: one soft value is skipped, and after a
// whole period of skips the constellation is also turned by a quarter. A
// combination whose decoder has found three sync bytes in a row (which noise
// hardly ever gives) gets its patience once more and the time to finish
// locking; only a lock taken after the last change counts.
//
// observe() runs on the decoding thread; setEnabled() and the readouts may be
// used from any thread.
class DvbsAlignmentSearch {
public:
    static constexpr uint64_t kDefaultPatienceBits = 32 * 1632;   // 32 packets
    // A lock is lasting after this many packet boundaries: longer than an
    // inverted (180°) stream can hold one.
    static constexpr uint32_t kLastingLockPackets = 16;
    // Bits a combination gets on top of its patience once its decoder has
    // confirmed a sync byte twice: the remaining confirmations, up to eight
    // packets to the inverted sync byte and the lasting lock's sixteen.
    static constexpr uint64_t kLockingBits = (6 + 8 + kLastingLockPackets + 2) * 1632;

    struct Actions {
        std::function<void(int)> setDerotation;   // slider value 0 … 255
        std::function<void()> skipSoftValue;
    };

    // What the outer decoder showed after a block.
    struct SyncStatus {
        int state = 0;                 // 0 hunting … 3 locked
        uint16_t confidence = 0;       // sync bytes confirmed while hunting
        uint32_t lockedPackets = 0;    // boundaries since the lock was taken
    };

    explicit DvbsAlignmentSearch(Actions actions, uint64_t patienceBits = kDefaultPatienceBits);

    void setEnabled(bool on) { on_.store(on); }
    bool enabled() const { return on_.load(); }

    // After each decoded block: how many bits it held, the depuncturing period
    // in force and the decoder's sync. A change of period restarts the wait.
    void observe(size_t decodedBits, int period, SyncStatus status);

    int derotation() const { return rotation.load() * 64; }
    int skippedValues() const { return skips.load(); }
    // Combinations left behind since construction.
    uint32_t steps() const { return stepCount.load(); }
    // True while the current combination holds a lasting lock.
    bool settled() const { return lasting.load(); }

private:
    void advance(int period);

    Actions actions;
    uint64_t patience;
    std::atomic<bool> on_{false};
    std::atomic<int> rotation{0};   // quarter turns
    std::atomic<int> skips{0};      // modulo the period
    std::atomic<uint32_t> stepCount{0};
    std::atomic<bool> lasting{false};
    uint64_t waited = 0;
    int lastPeriod = 0;
    bool extended = false;
    bool unlockedSinceStep = true;
};
