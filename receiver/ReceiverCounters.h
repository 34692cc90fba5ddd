#pragma once

#include <cstdint>

// The decoding counts both faces show, read at one moment.
struct ReceiverCounters {
    uint64_t bchCorrectedBits = 0;
    uint64_t bchFailures = 0;
    uint64_t packetCrcFailures = 0;        // packets marked: their CRC-8 failed
    uint64_t packetsFromFailedFrames = 0;  // packets marked: their frame failed
    uint64_t sdtCrcFailures = 0;
    uint64_t gseCrcFailures = 0;
    uint64_t rsUncorrectable = 0;          // DVB-S
    uint64_t droppedBlocks = 0;
    uint64_t clippedSamples = 0;
};
