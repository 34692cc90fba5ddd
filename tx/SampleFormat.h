// The transmitter's samples in the receiver's interleaved IQ formats (I first,
// little-endian): signed 8-bit, signed 16-bit, 32-bit float and unsigned 8-bit
// offset binary.
#pragma once

#include "devices/SampleFormat.h"
#include "tx/Constellations.h"

#include <cstdint>
#include <string>

namespace tx {

// Full-scale value of one component: 127, 32767, 1.0, 127 (around 128 for u8).
double fullScale(IqFormat format);

// Scales by `scale` (counts per unit), rounds and clips; returns the number of
// clipped components. u8 is s8 + 128.
size_t convertSamples(const cf32* in, size_t n, float scale, IqFormat format, uint8_t* out);

} // namespace tx
