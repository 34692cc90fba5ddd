#include "dsp/SampleLevels.h"

#include <algorithm>

#include <smmintrin.h>

uint64_t clippedSamples_ref(const int16_t* iq, size_t count, int16_t level)
{
    uint64_t n = 0;
    for (size_t k = 0; k < count; ++k) {
        const int i = iq[2 * k], q = iq[2 * k + 1];
        n += (i >= level || i <= -level || q >= level || q <= -level) ? 1 : 0;
    }
    return n;
}

uint64_t clippedSamples_sse41(const int16_t* iq, size_t count, int16_t level)
{
    // |x| as an unsigned 16-bit value (|−32768| is 0x8000 = 32768) against
    // the level; a sample counts once whichever of its halves reached it.
    const __m128i threshold = _mm_set1_epi16(level);
    const __m128i one = _mm_set1_epi32(1);
    __m128i total = _mm_setzero_si128();
    size_t k = 0;
    while (k + 4 <= count) {
        // 32-bit counts per lane, folded into the 64-bit sum every 2^20
        // samples.
        __m128i lanes = _mm_setzero_si128();
        const size_t end = k + std::min<size_t>(count - k, size_t(1) << 20) / 4 * 4;
        for (; k < end; k += 4) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(iq + 2 * k));
            const __m128i magnitude = _mm_abs_epi16(x);
            const __m128i reached = _mm_cmpeq_epi16(_mm_max_epu16(magnitude, threshold), magnitude);
            const __m128i either = _mm_or_si128(reached, _mm_srli_epi32(reached, 16));
            lanes = _mm_add_epi32(lanes, _mm_and_si128(either, one));
        }
        total = _mm_add_epi64(total, _mm_cvtepu32_epi64(lanes));
        total = _mm_add_epi64(total, _mm_cvtepu32_epi64(_mm_srli_si128(lanes, 8)));
    }
    uint64_t n = uint64_t(_mm_cvtsi128_si64(total)) + uint64_t(_mm_extract_epi64(total, 1));
    return n + clippedSamples_ref(iq + 2 * k, count - k, level);
}

uint64_t sumOfSquares16_ref(const int16_t* v, size_t count)
{
    uint64_t sum = 0;
    for (size_t k = 0; k < count; ++k)
        sum += uint64_t(int32_t(v[k]) * int32_t(v[k]));
    return sum;
}

uint64_t sumOfSquares16_sse41(const int16_t* v, size_t count)
{
    // A pair's sum of squares is at most 2 × 32768² = 2^31: exact as an
    // unsigned 32-bit value, widened before it is added up.
    __m128i total = _mm_setzero_si128();
    size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + k));
        const __m128i pairs = _mm_madd_epi16(x, x);
        total = _mm_add_epi64(total, _mm_cvtepu32_epi64(pairs));
        total = _mm_add_epi64(total, _mm_cvtepu32_epi64(_mm_srli_si128(pairs, 8)));
    }
    const uint64_t sum = uint64_t(_mm_cvtsi128_si64(total)) + uint64_t(_mm_extract_epi64(total, 1));
    return sum + sumOfSquares16_ref(v + k, count - k);
}
