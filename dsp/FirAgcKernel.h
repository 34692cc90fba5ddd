// The matched filter's vector kernel, shared by its SSE4.1 and AVX2 builds:
// the block walk and the gain stage are the same, only the window's sums
// (a policy type) are taken wider where the processor allows.
//
// Included only by the kernels' own sources, each built for its own
// instruction set: everything here has internal linkage, so that no AVX2
// copy of a helper can stand in for the SSE4.1 one at link time.
#pragma once

#include "dsp/Approx.h"
#include "dsp/MatchedFilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <smmintrin.h>

namespace firagc {
namespace {

// One step of the gain loop for output power p (agcUpdate()).
inline float gainStep(float g, float p)
{
    const float t = (MatchedFilter::kAgcRate * p) * approxRsqrt(p);
    if (g > 0.0f && t > MatchedFilter::kAgcDecay)
        return (g - MatchedFilter::kAgcDecay) - t;
    return (g - MatchedFilter::kAgcDecay) + t;
}

// Output and gain update of one group of four samples, shared by every
// kernel: sums[j] = (SIe, SQe, SIo, SQo) of sample j. v = sums × (gainNorm ×
// g) with g as it was at the group's start, rounded to nearest and saturated
// to 16 bits (as roundSaturate16 does); g updated after every sample.
inline void finishGroup(FirAgcState& f, const int32_t (*sums)[4], int16_t* out)
{
    float g = f.agcGain;
    const __m128 s = _mm_set1_ps(f.gainNorm * g);
    __m128i packed[2];
    for (int j = 0; j < 4; ++j) {
        const __m128 v = _mm_mul_ps(_mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sums[j]))), s);
        const __m128i rounded = _mm_cvtps_epi32(v);
        if (j % 2 == 0)
            packed[j / 2] = rounded;
        else
            packed[j / 2] = _mm_packs_epi32(packed[j / 2], rounded);
        // (v0² + v1²) + (v2² + v3²), by shuffles rather than horizontal adds:
        // the same sums, sooner (this is on the chain from group to group).
        const __m128 sq = _mm_mul_ps(v, v);
        const __m128 pairs = _mm_add_ps(sq, _mm_shuffle_ps(sq, sq, _MM_SHUFFLE(2, 3, 0, 1)));
        g = gainStep(g, _mm_cvtss_f32(_mm_add_ss(pairs, _mm_movehl_ps(pairs, pairs))));
    }
    f.agcGain = g;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed[0]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), packed[1]);
}

inline void endBlock(FirAgcState& f, uint64_t pos)
{
    f.historyPos = pos;
    f.gainReset = std::isnan(f.agcGain);
    if (f.gainReset)
        f.agcGain = 1.0f;
}

// Eight taps of a window into the four running sums (32-bit lanes, wrapping).
inline void accumulate8(const int16_t* wi, const int16_t* wq, const int16_t* even, const int16_t* odd, __m128i& ie,
                        __m128i& qe, __m128i& io, __m128i& qo)
{
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(wi));
    const __m128i hq = _mm_loadu_si128(reinterpret_cast<const __m128i*>(wq));
    const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(even));
    const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(odd));
    ie = _mm_add_epi32(ie, _mm_madd_epi16(hi, e));
    qe = _mm_add_epi32(qe, _mm_madd_epi16(hq, e));
    io = _mm_add_epi32(io, _mm_madd_epi16(hi, o));
    qo = _mm_add_epi32(qo, _mm_madd_epi16(hq, o));
}

// The four sums' lanes added up: (SIe, SQe, SIo, SQo).
inline __m128i lanes(__m128i ie, __m128i qe, __m128i io, __m128i qo)
{
    return _mm_hadd_epi32(_mm_hadd_epi32(ie, qe), _mm_hadd_epi32(io, qo));
}

// The block: `Window::sums(wi, wq, even, odd, n)` gives the four sums of the
// window of n samples starting at wi / wq (oldest first).
template <class Window>
void kernel(FirAgcState& f, const int16_t* in, size_t count, int16_t* out)
{
    // The samples in time order, I and Q apart, the window's older n − 1
    // first: each sum reads runs written before the chunk began, never a
    // sample stored a moment before (a narrow store read back by a wide
    // load stalls every sample).
    constexpr size_t kChunk = 256;
    const size_t n = size_t(f.tapCount / 2);
    if (count == 0) {
        endBlock(f, f.historyPos);
        return;
    }
    alignas(32) int16_t lineI[FirAgcState::kMaxTaps / 2 + kChunk];
    alignas(32) int16_t lineQ[FirAgcState::kMaxTaps / 2 + kChunk];
    const uint64_t P = f.historyPos;
    // Age a (1 … n − 1) before the block: stored at step (P − a) mod n.
    for (size_t a = 1; a < n; ++a) {
        const size_t at = n - 1 - size_t((P + n - a) % n);
        lineI[n - 1 - a] = f.historyI[at];
        lineQ[n - 1 - a] = f.historyQ[at];
    }
    size_t filled = n - 1;
    for (size_t done = 0; done < count;) {
        const size_t chunk = std::min(kChunk, count - done);   // a multiple of 4
        for (size_t k = 0; k < chunk; ++k) {
            lineI[n - 1 + k] = in[2 * (done + k)];
            lineQ[n - 1 + k] = in[2 * (done + k) + 1];
        }
        for (size_t group = 0; group < chunk; group += 4) {
            alignas(16) int32_t sums[4][4];
            // The window of the sample at group + j: n samples ending there.
            for (size_t j = 0; j < 4; ++j)
                _mm_store_si128(reinterpret_cast<__m128i*>(sums[j]),
                                Window::sums(lineI + group + j, lineQ + group + j, f.evenOldestFirst,
                                             f.oddOldestFirst, n));
            finishGroup(f, sums, out + 4 * (done + group));
        }
        done += chunk;
        filled = n - 1 + chunk;
        if (done == count)
            break;
        // The newest n − 1 go to the front for the next chunk.
        std::memmove(lineI, lineI + chunk, (n - 1) * sizeof(int16_t));
        std::memmove(lineQ, lineQ + chunk, (n - 1) * sizeof(int16_t));
    }
    // The history as the sample-by-sample kernel leaves it: the sample of
    // age a (1 the last) in the slot of its step, end − a mod n.
    const uint64_t end = (P + count) % n;
    for (size_t a = 1; a <= n; ++a) {
        const size_t at = n - 1 - size_t((end + n - a) % n);
        f.historyI[at] = lineI[filled - a];
        f.historyQ[at] = lineQ[filled - a];
    }
    endBlock(f, end);
}

} // namespace
} // namespace firagc
