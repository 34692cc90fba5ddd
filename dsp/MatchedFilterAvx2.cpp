// The matched filter's kernel with the windows' sums sixteen taps at a time.
// Built with AVX2; run only where the processor has it.
#include "dsp/FirAgcKernel.h"

#include <immintrin.h>

namespace {

struct Avx2Window {
    static __m128i sums(const int16_t* wi, const int16_t* wq, const int16_t* even, const int16_t* odd, size_t n)
    {
        __m256i ie = _mm256_setzero_si256(), qe = ie, io = ie, qo = ie;
        size_t k = 0;
        for (; k + 16 <= n; k += 16) {
            const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(wi + k));
            const __m256i hq = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(wq + k));
            const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(even + k));
            const __m256i o = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(odd + k));
            ie = _mm256_add_epi32(ie, _mm256_madd_epi16(hi, e));
            qe = _mm256_add_epi32(qe, _mm256_madd_epi16(hq, e));
            io = _mm256_add_epi32(io, _mm256_madd_epi16(hi, o));
            qo = _mm256_add_epi32(qo, _mm256_madd_epi16(hq, o));
        }
        // The halves together (the sums wrap, so any order gives the same).
        const auto fold = [](__m256i v) {
            return _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
        };
        __m128i ie4 = fold(ie), qe4 = fold(qe), io4 = fold(io), qo4 = fold(qo);
        for (; k < n; k += 8)
            firagc::accumulate8(wi + k, wq + k, even + k, odd + k, ie4, qe4, io4, qo4);
        return firagc::lanes(ie4, qe4, io4, qo4);
    }
};

} // namespace

void fir_agc_avx2(FirAgcState& f, const int16_t* in, size_t count, int16_t* out)
{
    firagc::kernel<Avx2Window>(f, in, count, out);
}
