// libFuzzer target: the DVB-S outer decoder's sync search, deinterleaver and
// Reed–Solomon decoder on arbitrary bit streams, state kept across inputs.
//
// Input: byte 0 = options (bit 0: Reed–Solomon off; bit 1: back to hunting
// first; bits 2 … 7: piece size), then the decoded bytes; every tenth input
// repeats its bytes 40 times so that a sync once found is also kept.
#include "fec/DvbS1OuterDecoder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static size_t packets = 0;
    static DvbS1OuterDecoder decoder([](const uint8_t* packet, size_t length) {
        if (length != 188 || packet == nullptr)
            std::abort();
        ++packets;
    });
    static unsigned round = 0;
    if (size < 1)
        return 0;
    decoder.setReedSolomonEnabled((data[0] & 1) == 0);
    if (data[0] & 2)
        decoder.resetSync();
    const size_t piece = 1 + (data[0] >> 2);
    const int repeats = ++round % 10 == 0 ? 40 : 1;
    for (int r = 0; r < repeats; ++r)
        for (size_t at = 1; at < size; at += piece)
            decoder.processBytes(data + at, std::min(piece, size - at));
    if (decoder.syncConfidence() > 32)
        std::abort();
    return 0;
}
