#include "demod/SoftDemapper.h"

#include "demod/CarrierLoop.h"
#include "demod/PlSignalling.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include <smmintrin.h>

const float SoftDemapper::kCos22_5 = demodSineTable()[48];
const float SoftDemapper::kSin22_5 = demodSineTable()[16];

void SoftDemapper::start(uint8_t plsCode)
{
    pls = plsCode;
    constellation = s2ModcodRow(plsModcod(plsCode)).constellationIndex;
    reversedColumns = plsModcod(plsCode) == 12;   // 8PSK 3/5: columns in reverse order
    frameValues = plsShortFrame(plsCode) ? 16200u : 64800u;
    written = 0;
}

namespace {

// softValue() on four lanes: × 128, below −128 (or not a number) −128, from
// 127 up 127, else toward zero.
inline __m128i softValues(__m128 x)
{
    // MAXPS gives its second operand where the first is not a number.
    const __m128 low = _mm_max_ps(_mm_mul_ps(x, _mm_set1_ps(128.0f)), _mm_set1_ps(-128.0f));
    return _mm_cvttps_epi32(_mm_min_ps(low, _mm_set1_ps(127.0f)));
}

// Four lanes of values −128 … 127 as four bytes.
inline int32_t packed(__m128i v)
{
    return _mm_cvtsi128_si32(_mm_packs_epi16(_mm_packs_epi32(v, v), v));
}

} // namespace

void SoftDemapper::demapRun(const std::complex<float>* s, size_t n)
{
    const float* in = reinterpret_cast<const float*>(s);
    size_t k = 0;
    if (constellation == 2) {
        // Eight symbols at a time: Q then I of each.
        const size_t count = std::min<size_t>(n, (kMaxValues - written) / 2);
        int8_t* out = soft.data() + written;
        const auto values = [&](size_t at) {
            const __m128 v = _mm_loadu_ps(in + at);
            return softValues(_mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1)));
        };
        for (; k + 8 <= count; k += 8) {
            const __m128i first = _mm_packs_epi32(values(2 * k), values(2 * k + 4));
            const __m128i second = _mm_packs_epi32(values(2 * k + 8), values(2 * k + 12));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k), _mm_packs_epi16(first, second));
        }
        written += uint32_t(2 * k);
    } else if (constellation == 3 && written <= frameValues) {
        // Four symbols at a time, each of the three values to its third.
        const size_t count = std::min<size_t>(n, (frameValues - written) / 3);
        const uint32_t third = frameValues / 3;
        const __m128 c = _mm_set1_ps(kCos22_5), sn = _mm_set1_ps(kSin22_5), sign = _mm_set1_ps(-0.0f);
        for (; k + 4 <= count; k += 4) {
            const __m128 a = _mm_loadu_ps(in + 2 * k), b = _mm_loadu_ps(in + 2 * k + 4);
            const __m128 re = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
            const __m128 im = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
            const __m128 u = _mm_sub_ps(_mm_mul_ps(re, c), _mm_mul_ps(im, sn));
            const __m128 v = _mm_add_ps(_mm_mul_ps(re, sn), _mm_mul_ps(im, c));
            const int32_t b0 = packed(softValues(_mm_sub_ps(_mm_andnot_ps(sign, v), _mm_andnot_ps(sign, u))));
            const int32_t b1 = packed(softValues(v));
            const int32_t b2 = packed(softValues(u));
            const uint32_t m = written / 3;
            std::memcpy(soft.data() + m, reversedColumns ? &b2 : &b0, 4);
            std::memcpy(soft.data() + m + third, &b1, 4);
            std::memcpy(soft.data() + m + 2 * third, reversedColumns ? &b0 : &b2, 4);
            written += 12;
        }
    }
    for (; k < n; ++k)
        demap(s[k]);
}
