// BBFRAMEs of a DVB-S2 stream (EN 302 307-1 §5.1.6): the BBHEADER status line,
// the roll-off report, and the data field cut into transport-stream packets
// or handed to the GSE parser. Of multiple input streams (MATYPE-1 MIS, the
// stream's ISI in MATYPE-2) one is passed on and the others are counted.
#pragma once


#include "stream/BbHeader.h"
#include "stream/TsPacket.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// "BBHEADER TYPE: …, LDPC [OK] nn/32" for a header and a decode result
// (passes left of `passes`): the passes used of those the decoder had.
std::string bbHeaderLine(const BbHeaderFields& h, int32_t decodeResult, int passes = 32);

class BbFrameProcessor {
public:
    struct Hooks {
        // The roll-off of the RO field, for the matched filter (the window
        // delivers it to its own thread).
        std::function<void(float rollOff)> rollOff;
        // Every frame's header and decode result, for the status line
        // (bbHeaderLine). Hooks run one frame at a time, under the
        // processor's own lock: frames come from several decoder threads.
        std::function<void(const BbHeaderFields& header, int32_t decodeResult)> header;
        // Transport-stream bytes, with packetStart set where a packet begins;
        // without it they are the rest of the packet the last frame began.
        std::function<void(const uint8_t* bytes, size_t length, bool packetStart)> transportStream;
        // Stream bytes were lost before this frame or in it: a packet in
        // progress cannot be completed.
        std::function<void()> discontinuity;
        // The data field of a continuous (generic) stream and its length in bits.
        std::function<void(const uint8_t* dataField, uint16_t dfl)> gse;
        // Multiple input streams: the ISI passed on from now (chosen, or the
        // first seen when none was).
        std::function<void(int isi)> inputStream;
    };

    // One input stream seen in MIS frames: its frames and the packets they
    // began (those of the stream not passed on are counted, not delivered).
    struct InputStream {
        int isi = 0;
        uint64_t frames = 0;
        uint64_t packets = 0;
    };

    explicit BbFrameProcessor(Hooks hooks) : hooks(std::move(hooks)) {}

    // One frame in transmission order: the decided, BB-descrambled codeword
    // bytes (`length` of them) and the decoder's result (< 0: failed);
    // `afterGap` when frames were lost since the last one.
    //
    // A frame that failed decoding, or that follows a gap, ends the packet
    // in progress; one that failed and whose BBHEADER fails its CRC gives
    // nothing (its SYNCD and DFL cannot be trusted). The packets of a frame
    // that failed carry the transport error indicator.
    //
    // Each packet's sync byte carries the CRC-8 of the packet before it: a
    // packet is handed on once the next one has begun and its CRC has been
    // checked (so the last packet of a frame waits for the next frame), with
    // the transport error indicator set when the check fails. Packets are
    // handed on whole (188 bytes, packetStart set).
    void processBBFrame(uint8_t* frame, size_t length, int32_t decodeResult, bool afterGap = false);

    // Hands on the packet waiting for its check (unchecked; marked only when
    // its frame failed) and drops a part packet: the stream has ended or
    // been broken off.
    void flush();

    // Multiple input streams: pass the stream of this ISI (0 … 255) from its
    // next frame on, or (−1) the first one seen (and the next one seen when
    // that one has not come for kStreamGoneFrames frames). Any thread.
    static constexpr int kStreamGoneFrames = 64;
    void selectInputStream(int isi) { requestedIsi.store(isi, std::memory_order_relaxed); }
    // The ISI passed on, −1 before a MIS frame chose it.
    int inputStream() const { return passedIsi.load(std::memory_order_relaxed); }
    // The streams seen so far, by ISI. Any thread, also one that a hook
    // waits for.
    std::vector<InputStream> inputStreams();

    // Packets whose CRC-8 failed, and packets marked because their frame
    // failed decoding.
    uint64_t packetCrcFailures() const { return crcFailures.load(std::memory_order_relaxed); }
    uint64_t packetsFromFailedFrames() const { return damagedPackets.load(std::memory_order_relaxed); }

private:
    // One frame (or flush) at a time: the status line and the stream bytes
    // of a frame go out together, and the packet in progress is shared.
    std::mutex frameMutex;

    void extractTransportStream(uint8_t* frame, size_t length, const BbHeaderFields& h, bool damaged);
    void lost();
    // A packet begins whose first byte, as received, is `check`: the packet
    // held whole is checked against it and handed on.
    void packetBegins(uint8_t check);
    void handOnHeld(bool crcFailed);
    void handOnHeldUnchecked();   // the held packet (unchecked) and no part packet
    // A MIS frame with a trusted header: counted, and true when its stream
    // is the one passed on.
    bool passesStream(const BbHeaderFields& h);

    Hooks hooks;
    // The packet in progress: whole and waiting for its check, or a part
    // waiting for its rest. Byte 0 as received (the CRC of the one before).
    std::array<uint8_t, kTsPacketBytes> held{};
    size_t heldLength = 0;
    bool heldDamaged = false;
    std::atomic<int> requestedIsi{-1};
    std::atomic<int> passedIsi{-1};
    int framesElsewhere = 0;   // MIS frames of other streams since the one passed
    // The streams' counts, apart from the frame lock: readers may hold locks
    // of their own that the hooks take.
    std::mutex streamsMutex;
    std::array<InputStream, 256> streams{};   // by ISI; frames 0: not seen
    std::atomic<uint64_t> crcFailures{0};
    std::atomic<uint64_t> damagedPackets{0};
};
