// DVB-S outer decoding, EN 300 421 §4.4: transport-stream sync in the
// Viterbi decoder's bit stream, convolutional deinterleaving (I = 12,
// M = 17), RS(204, 188) and energy-dispersal removal.
#pragma once

#include "fec/ReedSolomonDecoder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

// Fed with decoded bytes in order, without known bit alignment; hands on one
// 188-byte packet per 204 received bytes once locked. A plain class on one
// thread: its owner carries switches and readouts to and from other threads.
//
// A word with more errors than Reed–Solomon corrects is handed on as received
// (descrambled), with the transport error indicator set, and not logged.
class DvbS1OuterDecoder {
public:
    static constexpr int kPacketBytes = 204;
    static constexpr int kTsBytes = 188;
    static constexpr int kBranches = 12;
    static constexpr int kCellBytes = 17;

    enum SyncState : int { Hunting = 0, Confirming = 1, Waiting = 2, Locked = 3 };

    // Receives each finished 188-byte packet.
    using PacketSink = std::function<void(const uint8_t* packet, size_t length)>;
    explicit DvbS1OuterDecoder(PacketSink sink);

    // Every bit of these bytes, most significant first.
    void processBytes(const uint8_t* bytes, size_t count);

    // Back to hunting (a device was opened).
    void resetSync()
    {
        state = Hunting;
        lockedRun = 0;
    }
    // What the owner may want to say: the sync confirmed (locking), and a
    // word Reed–Solomon corrected, with the bits it changed.
    struct Events {
        std::function<void()> syncLocking;
        std::function<void(size_t bits)> corrected;
    };
    void setEvents(Events e) { events = std::move(e); }

    void setReedSolomonEnabled(bool on) { rsEnabled = on; }
    bool reedSolomonEnabled() const { return rsEnabled; }

    // 0 … 32.
    uint16_t syncConfidence() const { return confidence; }
    int syncState() const { return state; }
    // Packet boundaries passed in the locked state since the lock was last
    // taken (0 when not locked).
    uint32_t lockedPackets() const { return lockedRun; }
    // Words Reed–Solomon could not correct, since construction.
    uint64_t uncorrectableWords() const { return uncorrectable; }

private:
    void processBit(unsigned bit);
    void atBoundary();
    void deinterleave(uint8_t byte);
    void finishPacket();
    void removeEnergyDispersal(uint8_t* packet, bool groupStart);

    PacketSink sink;
    Events events;
    ReedSolomonDecoder rs;

    int state = Hunting;
    uint16_t confidence = 0;
    uint32_t lockedRun = 0;
    uint64_t uncorrectable = 0;
    bool rsEnabled = true;

    uint8_t bitRegister = 0;
    uint16_t bitCounter = 0;
    int packetIndex = 0;
    int branch = 0;
    // Branch j < 11 delays by (11 − j) × 17 bytes; branch 11 not at all.
    std::array<std::array<uint8_t, (kBranches - 1) * kCellBytes>, kBranches - 1> fifo{};
    std::array<uint16_t, kBranches - 1> fifoPosition{};
    std::array<uint8_t, kPacketBytes> packet{};
    int writePosition = 0;
    uint16_t scrambler = 0x4A80;
};
