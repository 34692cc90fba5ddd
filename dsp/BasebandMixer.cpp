#include "dsp/BasebandMixer.h"

#include <algorithm>
#include <cmath>

#include <smmintrin.h>

namespace {

inline int16_t saturate16(int32_t v)
{
    return int16_t(std::clamp(v, -32768, 32767));
}

} // namespace

BasebandMixer::BasebandMixer()
{
    for (int k = 0; k < 256; ++k)
        sineTable[k] = float(std::sin(2.0 * M_PI * k / 256.0));
}

void BasebandMixer::process(int16_t* iq, size_t count)
{
    mix_sse41(*this, iq, count);
}

void mix_ref(BasebandMixer& m, int16_t* iq, size_t count)
{
    // Whole cycles per sample turn nothing; what is left keeps the phase
    // below one cycle either way.
    const double increment = m.phaseIncrement - std::trunc(m.phaseIncrement);
    const std::array<float, 256>& sineTable = m.sineTable;
    double p = m.phase;
    int32_t accI = m.dcAccI;
    int32_t accQ = m.dcAccQ;
    for (size_t k = 0; k < count; ++k) {
        // Indices truncated toward zero, then their low 8 bits (negatives wrap).
        const uint8_t sinIndex = uint8_t(int32_t(256.0 * p));
        const uint8_t cosIndex = uint8_t(int32_t(64.0 - 256.0 * p));
        const float s = sineTable[sinIndex];
        const float c = sineTable[cosIndex];

        const float i = iq[2 * k];
        const float q = iq[2 * k + 1];
        // (I + jQ) × (c − js), truncated toward zero.
        const int32_t mixedI = int32_t(i * c + q * s);
        const int32_t mixedQ = int32_t(q * c - i * s);

        // The estimate is subtracted before the sample's own part is added.
        // Both saturate: a full-scale sample turned by the oscillator, or
        // less a DC estimate of the other sign, must stay a large value of
        // its own sign, not wrap to the opposite end of the range.
        iq[2 * k] = saturate16(mixedI - accI / 65536);
        iq[2 * k + 1] = saturate16(mixedQ - accQ / 65536);
        accI = accI - accI / 65536 + saturate16(mixedI);
        accQ = accQ - accQ / 65536 + saturate16(mixedQ);

        // The fraction kept, as trunc() would keep it: |next| < 2, so the
        // conversion to an integer is exact and needs no rounding instruction.
        const double next = p + increment;
        p = next - double(int32_t(next));
    }
    m.phase = p;
    m.dcAccI = accI;
    m.dcAccQ = accQ;
}

void mix_sse41(BasebandMixer& m, int16_t* iq, size_t count)
{
    constexpr size_t kChunk = 256;
    alignas(16) float sines[kChunk], cosines[kChunk];
    alignas(16) int32_t mixed[2 * kChunk];      // I, Q side by side
    alignas(16) int32_t saturated[2 * kChunk];  // the same, limited to 16 bits
    alignas(16) int32_t estimate[2 * kChunk];   // the DC estimate before each sample
    const double increment = m.phaseIncrement - std::trunc(m.phaseIncrement);
    const float* table = m.sineTable.data();
    double p = m.phase;
    int32_t accI = m.dcAccI;
    int32_t accQ = m.dcAccQ;
    for (size_t done = 0; done < count;) {
        const size_t n = std::min(kChunk, count - done);
        int16_t* chunk = iq + 2 * done;
        // The oscillator, sample by sample as the reference steps it. |next|
        // < 2, so dropping its whole cycle is one subtraction or addition; it
        // is rare at the offsets in use, and the branch keeps it off the
        // chain from one phase to the next.
        for (size_t k = 0; k < n; ++k) {
            sines[k] = table[uint8_t(int32_t(256.0 * p))];
            cosines[k] = table[uint8_t(int32_t(64.0 - 256.0 * p))];
            double next = p + increment;
            if (__builtin_expect(next >= 1.0, 0))
                next -= 1.0;
            else if (__builtin_expect(next <= -1.0, 0))
                next += 1.0;
            p = next;
        }
        // (I + jQ) × (c − js), four samples at a time, truncated toward zero.
        size_t k = 0;
        for (; k + 4 <= n; k += 4) {
            const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + 2 * k));
            const __m128i wide01 = _mm_cvtepi16_epi32(raw);                    // I0 Q0 I1 Q1
            const __m128i wide23 = _mm_cvtepi16_epi32(_mm_srli_si128(raw, 8)); // I2 Q2 I3 Q3
            const __m128 a = _mm_cvtepi32_ps(wide01), b = _mm_cvtepi32_ps(wide23);
            const __m128 i = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
            const __m128 q = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
            const __m128 s = _mm_load_ps(sines + k), c = _mm_load_ps(cosines + k);
            const __m128i mi = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(i, c), _mm_mul_ps(q, s)));
            const __m128i mq = _mm_cvttps_epi32(_mm_sub_ps(_mm_mul_ps(q, c), _mm_mul_ps(i, s)));
            const __m128i lo = _mm_unpacklo_epi32(mi, mq), hi = _mm_unpackhi_epi32(mi, mq);
            _mm_store_si128(reinterpret_cast<__m128i*>(mixed + 2 * k), lo);
            _mm_store_si128(reinterpret_cast<__m128i*>(mixed + 2 * k + 4), hi);
            const __m128i limited = _mm_packs_epi32(lo, hi);
            _mm_store_si128(reinterpret_cast<__m128i*>(saturated + 2 * k), _mm_cvtepi16_epi32(limited));
            _mm_store_si128(reinterpret_cast<__m128i*>(saturated + 2 * k + 4),
                            _mm_cvtepi16_epi32(_mm_srli_si128(limited, 8)));
        }
        for (; k < n; ++k) {
            const float i = chunk[2 * k], q = chunk[2 * k + 1];
            mixed[2 * k] = int32_t(i * cosines[k] + q * sines[k]);
            mixed[2 * k + 1] = int32_t(q * cosines[k] - i * sines[k]);
            saturated[2 * k] = saturate16(mixed[2 * k]);
            saturated[2 * k + 1] = saturate16(mixed[2 * k + 1]);
        }
        // The DC estimate, sample by sample: all that is carried is the
        // accumulator itself.
        for (k = 0; k < n; ++k) {
            const int32_t ti = accI / 65536, tq = accQ / 65536;
            estimate[2 * k] = ti;
            estimate[2 * k + 1] = tq;
            accI = accI - ti + saturated[2 * k];
            accQ = accQ - tq + saturated[2 * k + 1];
        }
        // Less the estimate, limited to 16 bits.
        for (k = 0; k + 4 <= n; k += 4) {
            const __m128i lo = _mm_sub_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(mixed + 2 * k)),
                                             _mm_load_si128(reinterpret_cast<const __m128i*>(estimate + 2 * k)));
            const __m128i hi = _mm_sub_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(mixed + 2 * k + 4)),
                                             _mm_load_si128(reinterpret_cast<const __m128i*>(estimate + 2 * k + 4)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(chunk + 2 * k), _mm_packs_epi32(lo, hi));
        }
        for (; k < n; ++k) {
            chunk[2 * k] = saturate16(mixed[2 * k] - estimate[2 * k]);
            chunk[2 * k + 1] = saturate16(mixed[2 * k + 1] - estimate[2 * k + 1]);
        }
        done += n;
    }
    m.phase = p;
    m.dcAccI = accI;
    m.dcAccQ = accQ;
}
