// The LDPC lane-group passes on 32-lane AVX2 vectors, chosen at run time.

#include "fec/LdpcLaneKernel.h"

#include <immintrin.h>

namespace {

struct Avx2 {
    using T = __m256i;
    static constexpr int kLanes = 32;
    static T load(const int8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void store(int8_t* p, T x) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), x); }
    static void storeLow8(int8_t* p, T x) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(x)); }
    static T set1(int8_t x) { return _mm256_set1_epi8(x); }
    static T laneZero() { return _mm256_setr_epi8(-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0); }
    static T subs(T a, T b) { return _mm256_subs_epi8(a, b); }
    static T adds(T a, T b) { return _mm256_adds_epi8(a, b); }
    static T maxs(T a, T b) { return _mm256_max_epi8(a, b); }
    static T mins(T a, T b) { return _mm256_min_epi8(a, b); }
    static T minu(T a, T b) { return _mm256_min_epu8(a, b); }
    static T maxu(T a, T b) { return _mm256_max_epu8(a, b); }
    static T subsu(T a, T b) { return _mm256_subs_epu8(a, b); }
    static T abs(T a) { return _mm256_abs_epi8(a); }
    static T sub(T a, T b) { return _mm256_sub_epi8(a, b); }
    static T band(T a, T b) { return _mm256_and_si256(a, b); }
    static T srli16(T a, int n) { return _mm256_srli_epi16(a, n); }
    static T bxor(T a, T b) { return _mm256_xor_si256(a, b); }
    static T bor(T a, T b) { return _mm256_or_si256(a, b); }
    static T cmpeq(T a, T b) { return _mm256_cmpeq_epi8(a, b); }
    static T blendv(T a, T b, T mask) { return _mm256_blendv_epi8(a, b, mask); }
    static T sign(T a, T b) { return _mm256_sign_epi8(a, b); }
    static uint32_t movemask(T a) { return uint32_t(_mm256_movemask_epi8(a)); }
};

} // namespace

bool ldpcChecksHoldAvx2(const LdpcLanePlan& plan) { return lanesChecksHold<Avx2>(plan); }
void ldpcUpdatePassAvx2(const LdpcLanePlan& plan) { lanesUpdatePass<Avx2>(plan); }
