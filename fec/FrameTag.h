// What travels with a DVB-S2 frame from the demodulator through the LDPC
// decoder to the stream layer, in a small pool buffer of its own next to the
// frame's.
#pragma once

#include "core/WorkBuffer.h"

#include <cstdint>
#include <cstring>

struct FrameTag {
    uint8_t plsCode = 0;     // bits 0–4 MODCOD, bit 5 short frame, bit 6 pilots
    int32_t result = -1;     // update passes left, 0 … the decoder's passes; −1: not decoded
    bool afterGap = true;    // stream data was lost before this frame
    bool bchFailed = false;  // the outer BCH code found more errors than it corrects
    int16_t bchCorrected = 0; // bits the outer BCH code corrected
    int16_t passesAllowed = 0; // the decoder's pass budget: passes used = passesAllowed − result
    // The demodulator's signal quality when the frame left it (MER, or Es/N0
    // while no MER is measured), dB; NaN when it had none.
    float qualityDb = __builtin_nanf("");
    // The input sample its SOF began at, counted as the chain's sample
    // observer counts them; −1 when not known.
    int64_t inputSample = -1;
};

// The size of a tag buffer.
constexpr size_t kFrameTagBytes = sizeof(FrameTag);

// A buffer too short to hold a tag reads as code 0, not decoded, after a gap.
inline FrameTag readFrameTag(const WorkBuffer& buffer)
{
    FrameTag tag;
    if (buffer.size() >= kFrameTagBytes)
        std::memcpy(&tag, buffer.data(), kFrameTagBytes);
    return tag;
}

// Writes the tag, making the buffer large enough.
inline void writeFrameTag(WorkBuffer& buffer, const FrameTag& tag)
{
    if (buffer.size() < kFrameTagBytes)
        buffer.resize(kFrameTagBytes);
    std::memcpy(buffer.data(), &tag, kFrameTagBytes);
}
