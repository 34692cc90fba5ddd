// Whole-block level figures of complex 16-bit samples (I, Q interleaved):
// how many reach full scale, and the energy of a block.
#pragma once

#include <cstddef>
#include <cstdint>

// Complex samples of `iq` with a component at `level` or beyond (either
// sign); `level` is 1 … 32767.
uint64_t clippedSamples_ref(const int16_t* iq, size_t count, int16_t level);
uint64_t clippedSamples_sse41(const int16_t* iq, size_t count, int16_t level);

// Σ v² over `count` 16-bit values, exact.
uint64_t sumOfSquares16_ref(const int16_t* v, size_t count);
uint64_t sumOfSquares16_sse41(const int16_t* v, size_t count);
