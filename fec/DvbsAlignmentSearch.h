// Automatic DVB-S alignment: finds the QPSK rotation and the depuncturing
// phase by looking for the transport stream's sync bytes in the decoded bits,
// instead of the user turning the derotation slider and pressing the
// symbol-skip button.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

// Off by default. While on, each combination (a turn of 0, 64, 128 or 192 of
// 256 on top of the derotation slider; 0 … period − 1 dropped soft values) is
// judged on the bits decoded after it took effect: the search counts, for
// every bit position within a packet length (1632 bits), how often the
// register there held 0x47 and how often 0xB8. After `patience` bits a
// combination whose best position shows sync bytes in at least half of the
// packets (and at least four) is kept; random bits almost never do that. If
// that position holds mostly 0xB8, the stream is the inverse of the one sent
// (a half turn off): the constellation is turned by 128 at the same phase.
// Otherwise the next combination is tried: one soft value is skipped, and
// after a whole period of skips the constellation is also turned by a quarter;
// after all four quarters the spectrum sense is turned over.
// Each change also sends the outer decoder back to hunting, so that a
// decoder left waiting for an inverted sync byte at a stale boundary cannot
// hold on to it.
//
// A kept combination stays while the outer decoder locks (its hunt may take
// tens of packets) and holds its lock; if the lock is lost it is judged again
// before anything is changed.
//
// The actions must take effect from the next block observed on: observe()
// runs on the decoding thread right after a block, and the chain applies the
// turn and the skip in the Viterbi decoder before its next block. A plain
// class on that thread: its owner carries the switch and the readouts to and
// from others.
class DvbsAlignmentSearch {
public:
    static constexpr uint64_t kPacketBits = 204 * 8;
    static constexpr uint64_t kDefaultPatienceBits = 8 * kPacketBits;
    // Sync bytes at one position that make a combination worth keeping.
    static constexpr uint32_t kMinimumSyncBytes = 4;
    // A lock is lasting after this many packet boundaries: longer than an
    // inverted (180°) stream can hold one.
    static constexpr uint32_t kLastingLockPackets = 16;

    struct Actions {
        std::function<void(int)> setDerotation;   // turn 0, 64, 128 or 192
        std::function<void()> skipSoftValue;
        std::function<void()> restartSync;        // outer decoder back to hunting
        // Every rotation and phase tried without sync: the spectrum may be
        // the mirror image (I and Q swapped), which no turn undoes.
        std::function<void()> turnSenseOver;
        // Each combination taken up: the turn (0 … 192) and the skip phase.
        std::function<void(int derotation, int skip)> tried;
    };

    // What the outer decoder showed after a block.
    struct SyncStatus {
        int state = 0;                 // 0 hunting … 3 locked
        uint16_t confidence = 0;       // sync bytes confirmed while hunting
        uint32_t lockedPackets = 0;    // boundaries since the lock was taken
    };

    explicit DvbsAlignmentSearch(Actions actions, uint64_t patienceBits = kDefaultPatienceBits);

    void setEnabled(bool on) { on_ = on; }
    bool enabled() const { return on_; }

    // After each decoded block: its bytes, the depuncturing period in force
    // and the decoder's sync. A change of period restarts the search's phase.
    void observe(const uint8_t* bytes, size_t count, int period, SyncStatus status);

    int derotation() const { return rotation * 64; }
    int skippedValues() const { return skips; }
    // Combinations left behind since construction.
    uint32_t steps() const { return stepCount; }
    // True while the current combination holds a lasting lock.
    bool settled() const { return lasting; }
    // True once the current combination has shown its sync bytes.
    bool syncSeen() const { return kept; }

private:
    enum class Verdict { NoSync, Sync, Inverted };

    void count(const uint8_t* bytes, size_t n);
    Verdict judge() const;
    void restartJudging();
    void advance(int period);
    void turnHalf();

    Actions actions;
    uint64_t patience;
    bool on_ = false;
    int rotation = 0;   // quarter turns
    int skips = 0;      // modulo the period
    uint32_t stepCount = 0;
    bool lasting = false;
    bool kept = false;
    int lastPeriod = 0;

    // Sync bytes seen at each bit position of a packet length, since the
    // judging began.
    std::array<uint16_t, kPacketBits> normalCount{};
    std::array<uint16_t, kPacketBits> invertedCount{};
    uint64_t judgedBits = 0;
    uint32_t position = 0;   // judgedBits modulo kPacketBits
    uint8_t shift = 0;
};
