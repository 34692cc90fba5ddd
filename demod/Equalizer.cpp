#include "demod/Equalizer.h"

#include <cmath>
#include <cstring>
#include <smmintrin.h>

void Equalizer::reset()
{
    std::memset(coefficients, 0, sizeof coefficients);
    std::memset(line, 0, sizeof line);
    head = 0;
    const int centre = tapCount / 2;
    for (int i : {centre - 1, centre}) {
        coefficients[2 * i] = 0.87758f;
        coefficients[2 * i + 1] = 0.47943f;
    }
}

void Equalizer::setTaps(const std::complex<float>* values, int count)
{
    std::memset(coefficients, 0, sizeof coefficients);
    for (int i = 0; i < count && i < kMaxTaps; ++i) {
        coefficients[2 * i] = values[i].real();
        coefficients[2 * i + 1] = values[i].imag();
    }
}

std::complex<float> eq_dot_ref(const float* taps, const float* delay, int length)
{
    float re = 0, im = 0;
    for (int i = 0; i < length; ++i) {
        re += taps[2 * i] * delay[2 * i] - taps[2 * i + 1] * delay[2 * i + 1];
        im += taps[2 * i] * delay[2 * i + 1] + taps[2 * i + 1] * delay[2 * i];
    }
    return {re, im};
}

void eq_update_ref(float* taps, const float* delay, int length, std::complex<float> e)
{
    for (int i = 0; i < length; ++i) {
        // e·conj(d) = (eR dR + eI dI, eI dR − eR dI)
        taps[2 * i] += e.real() * delay[2 * i] + e.imag() * delay[2 * i + 1];
        taps[2 * i + 1] += e.imag() * delay[2 * i] - e.real() * delay[2 * i + 1];
    }
}

namespace {

inline std::complex<float> dotSse(const float* taps, const float* delay, int length)
{
    // Two accumulators: Σ (tR dR, tI dI, …) and Σ (tR dI, tI dR, …).
    // Two pairs of accumulators, for taps 0–1 and 2–3 of each group of four.
    __m128 straight = _mm_setzero_ps(), straight2 = _mm_setzero_ps();
    __m128 crossed = _mm_setzero_ps(), crossed2 = _mm_setzero_ps();
    for (int i = 0; i < 2 * length; i += 8) {
        const __m128 t = _mm_load_ps(taps + i);                  // tR0 tI0 tR1 tI1
        const __m128 d = _mm_loadu_ps(delay + i);                // dR0 dI0 dR1 dI1
        const __m128 t2 = _mm_load_ps(taps + i + 4);
        const __m128 d2 = _mm_loadu_ps(delay + i + 4);
        straight = _mm_add_ps(straight, _mm_mul_ps(t, d));
        crossed = _mm_add_ps(crossed, _mm_mul_ps(t, _mm_shuffle_ps(d, d, _MM_SHUFFLE(2, 3, 0, 1))));
        straight2 = _mm_add_ps(straight2, _mm_mul_ps(t2, d2));
        crossed2 = _mm_add_ps(crossed2, _mm_mul_ps(t2, _mm_shuffle_ps(d2, d2, _MM_SHUFFLE(2, 3, 0, 1))));
    }
    straight = _mm_add_ps(straight, straight2);
    crossed = _mm_add_ps(crossed, crossed2);
    alignas(16) float s[4], c[4];
    _mm_store_ps(s, straight);
    _mm_store_ps(c, crossed);
    return {(s[0] + s[2]) - (s[1] + s[3]), (c[0] + c[2]) + (c[1] + c[3])};
}

inline void updateSse(float* taps, const float* delay, int length, std::complex<float> e)
{
    // taps += (eR dR + eI dI, eI dR − eR dI) for two taps per step.
    const __m128 eISigned = _mm_setr_ps(e.imag(), -e.imag(), e.imag(), -e.imag());
    const __m128 eRSigned = _mm_setr_ps(e.real(), -e.real(), e.real(), -e.real());
    for (int i = 0; i < 2 * length; i += 4) {
        const __m128 d = _mm_loadu_ps(delay + i);                                  // dR dI
        const __m128 dSwap = _mm_shuffle_ps(d, d, _MM_SHUFFLE(2, 3, 0, 1));        // dI dR
        const __m128 a = _mm_mul_ps(eRSigned, d);        // eR dR, −eR dI
        const __m128 b = _mm_mul_ps(eISigned, dSwap);    // eI dI, −eI dR
        const __m128 re = _mm_add_ps(a, b);              // even lanes: eR dR + eI dI
        const __m128 im = _mm_sub_ps(a, b);              // odd lanes: eI dR − eR dI
        const __m128 delta = _mm_blend_ps(re, im, 0xA);
        _mm_store_ps(taps + i, _mm_add_ps(_mm_load_ps(taps + i), delta));
    }
}

} // namespace

std::complex<float> eq_dot_sse41(const float* taps, const float* delay, int length)
{
    return dotSse(taps, delay, length);
}

void eq_update_sse41(float* taps, const float* delay, int length, std::complex<float> e)
{
    updateSse(taps, delay, length, e);
}

std::complex<float> Equalizer::process(std::complex<float> x)
{
    head = head == 0 ? kMaxTaps - 1 : head - 1;
    line[2 * head] = line[2 * (head + kMaxTaps)] = x.real();
    line[2 * head + 1] = line[2 * (head + kMaxTaps) + 1] = x.imag();
    const float* delay = delayLine();
    const std::complex<float> y = dotSse(coefficients, delay, tapCount);
    if (adaptTaps) {
        std::complex<float> e;
        if (adaptMode == ConstantModulus) {
            e = (0.707f - std::sqrt(std::norm(y))) * y;
        } else {
            const float dI = y.real() >= 0 ? 0.707f : -0.707f;
            const float dQ = y.imag() >= 0 ? 0.707f : -0.707f;
            e = {dI - y.real(), dQ - y.imag()};
        }
        updateSse(coefficients, delay, tapCount, stepSize * e);
    }
    return y;
}
