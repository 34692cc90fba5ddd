// The 8PSK likelihood-weighted phase detector (SoftPhaseDetector.h) on
// vectors, inline for the carrier loop's per-symbol path. SSE4.1.
#pragma once

#include <complex>
#include <cstdint>

#include <smmintrin.h>

namespace psk8detail {

constexpr float kHalfRoot2 = 0.70710678f;

// 2^f on [0, 1), a minimax polynomial, in Estrin's form (a shorter chain of
// dependent operations than Horner's, on the carrier loop's path).
constexpr float kExp1 = 0.69314718f, kExp2 = 0.24022650f, kExp3 = 0.05550411f, kExp4 = 0.00961813f,
                kExp5 = 0.00133336f;

// e^x for x ≤ 0 on four lanes, within 1e-4 of it relative; 0 below −87.
inline __m128 expNonPositive4(__m128 x)
{
    const __m128 t = _mm_mul_ps(x, _mm_set1_ps(1.44269504f));
    const __m128 whole = _mm_floor_ps(t);
    const __m128 f = _mm_sub_ps(t, whole);
    const __m128 f2 = _mm_mul_ps(f, f);
    const __m128 low = _mm_add_ps(_mm_set1_ps(1.0f), _mm_mul_ps(f, _mm_set1_ps(kExp1)));
    const __m128 middle = _mm_add_ps(_mm_set1_ps(kExp2), _mm_mul_ps(f, _mm_set1_ps(kExp3)));
    const __m128 high = _mm_add_ps(_mm_set1_ps(kExp4), _mm_mul_ps(f, _mm_set1_ps(kExp5)));
    const __m128 p = _mm_add_ps(low, _mm_mul_ps(f2, _mm_add_ps(middle, _mm_mul_ps(f2, high))));
    // Below −87 the exponent field would underflow: those lanes are 0 (and
    // their shifted exponent, whatever it is, is masked off).
    const __m128i bits = _mm_slli_epi32(_mm_add_epi32(_mm_cvttps_epi32(whole), _mm_set1_epi32(127)), 23);
    const __m128 value = _mm_mul_ps(p, _mm_castsi128_ps(bits));
    return _mm_andnot_ps(_mm_cmplt_ps(x, _mm_set1_ps(-87.0f)), value);
}

} // namespace psk8detail

// The weighted sums in the order the vector detector forms them: points k
// and k + 4 together, then those pairs two apart, then the two halves.
inline float psk8WeightedError(std::complex<float> s, float c)
{
    const float x = s.real(), y = s.imag();
    const float a = psk8detail::kHalfRoot2 * (x + y), b = psk8detail::kHalfRoot2 * (y - x);
    // Points 0 … 3; points 4 … 7 are their negatives.
    const __m128 re = _mm_setr_ps(x, a, y, b);
    const __m128 im = _mm_setr_ps(y, b, -x, -a);
    const __m128 sign = _mm_set1_ps(-0.0f);
    const __m128 magnitude = _mm_andnot_ps(sign, re);
    const __m128 pairs = _mm_max_ps(magnitude, _mm_movehl_ps(magnitude, magnitude));
    const __m128 largest = _mm_max_ss(pairs, _mm_shuffle_ps(pairs, pairs, 1));
    const __m128 top = _mm_shuffle_ps(largest, largest, 0);
    const __m128 cs = _mm_set1_ps(c);
    const __m128 near = psk8detail::expNonPositive4(_mm_mul_ps(cs, _mm_sub_ps(re, top)));
    const __m128 far = psk8detail::expNonPositive4(_mm_mul_ps(cs, _mm_sub_ps(_mm_xor_ps(re, sign), top)));
    const __m128 num = _mm_add_ps(_mm_mul_ps(near, im), _mm_mul_ps(far, _mm_xor_ps(im, sign)));
    const __m128 den = _mm_add_ps(near, far);
    // (num0 + num2, den0 + den2, num1 + num3, den1 + den3), then the halves.
    const __m128 twoApart = _mm_add_ps(_mm_unpacklo_ps(num, den), _mm_unpackhi_ps(num, den));
    const __m128 sums = _mm_add_ps(twoApart, _mm_movehl_ps(twoApart, twoApart));
    return _mm_cvtss_f32(_mm_div_ss(sums, _mm_shuffle_ps(sums, sums, 1)));
}
