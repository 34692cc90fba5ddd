// Gathers transport-stream bytes into blocks of seven 188-byte packets, the
// unit of every write to the network and the recording file.
#pragma once

#include "stream/TsPacket.h"


#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

class TsBlockAssembler {
public:
    static constexpr size_t kPacketSize = kTsPacketBytes;
    static constexpr size_t kBlockSize = 7 * kPacketSize;   // 1316

    // Receives every full block, on the caller's thread.
    using BlockSink = std::function<void(const uint8_t* block, size_t size)>;
    explicit TsBlockAssembler(BlockSink sink) : sink(std::move(sink)) {}

    // Appends `length` bytes. With `packetStart` set, a partial block that does
    // not begin with a sync byte is dropped first, and so is a packet left
    // incomplete: a packet starts only where the last one ended.
    void emitTransportStream(const uint8_t* bytes, size_t length, bool packetStart);

    // The rest of the packet in progress: taken only when it completes that
    // packet exactly. Anything else means bytes were lost in between; the
    // packet in progress and these bytes are dropped.
    void continuePacket(const uint8_t* bytes, size_t length);

    // Bytes were lost (a frame missing or not decoded): the packet in
    // progress is dropped, and so is everything up to the next packet start.
    void resynchronise();

    size_t fill() const { return filled; }

private:
    void append(const uint8_t* bytes, size_t length);

    BlockSink sink;
    std::array<uint8_t, kBlockSize> block{};
    size_t filled = 0;
    bool waitingForStart = false;
};
