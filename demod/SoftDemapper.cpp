#include "demod/SoftDemapper.h"

#include "demod/CarrierLoop.h"
#include "demod/PlSignalling.h"

#include <algorithm>
#include <array>
#include <cmath>

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


void SoftDemapper::demapRun(const std::complex<float>* s, size_t n)
{
    if (constellation != 2) {
        for (size_t k = 0; k < n; ++k)
            demap(s[k]);
        return;
    }
    // softValue() eight symbols at a time: Q then I of each, × 128, below
    // −128 (or not a number) −128, from 127 up 127, else toward zero.
    const size_t count = std::min<size_t>(n, (kMaxValues - written) / 2);
    int8_t* out = soft.data() + written;
    const float* in = reinterpret_cast<const float*>(s);
    const __m128 scale = _mm_set1_ps(128.0f), low = _mm_set1_ps(-128.0f), high = _mm_set1_ps(127.0f);
    const auto values = [&](size_t at) {
        const __m128 v = _mm_loadu_ps(in + at);
        const __m128 swapped = _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1));
        // MAXPS gives its second operand where the first is not a number.
        return _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(_mm_mul_ps(swapped, scale), low), high));
    };
    size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const __m128i first = _mm_packs_epi32(values(2 * k), values(2 * k + 4));
        const __m128i second = _mm_packs_epi32(values(2 * k + 8), values(2 * k + 12));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k), _mm_packs_epi16(first, second));
    }
    written += uint32_t(2 * k);
    for (; k < n; ++k)
        demap(s[k]);
}
