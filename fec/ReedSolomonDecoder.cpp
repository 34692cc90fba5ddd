#include "fec/ReedSolomonDecoder.h"

#include "gf/GaloisField.h"
#include "poly/Polynomial.h"

#include <smmintrin.h>

namespace {

using F = gf::GF256Dvb;
using Poly = poly::Polynomial<F, 17>;

// α^j · 2^b in byte lane j, for each bit b: multiplying lane j by α^j is
// the sum of those of the bits set in it (the product is linear over GF(2)).
struct AlphaPowerBits {
    alignas(16) uint8_t lane[8][16];
    AlphaPowerBits()
    {
        for (int b = 0; b < 8; ++b)
            for (int j = 0; j < 16; ++j)
                lane[b][j] = F::mul(F::power(j), uint8_t(1 << b));
    }
};

} // namespace

void rsSyndromes_ref(const uint8_t* word, uint8_t* syndromes)
{
    // Horner's rule from byte 0 (the highest power).
    for (int j = 0; j < ReedSolomonDecoder::kParity; ++j) {
        const uint8_t a = F::power(j);
        uint8_t s = 0;
        for (int k = 0; k < ReedSolomonDecoder::kLength; ++k)
            s = F::add(F::mul(s, a), word[k]);
        syndromes[j] = s;
    }
}

void rsSyndromes_sse41(const uint8_t* word, uint8_t* syndromes)
{
    static const AlphaPowerBits table;
    __m128i bits[8], products[8];
    for (int b = 0; b < 8; ++b) {
        bits[b] = _mm_set1_epi8(char(1 << b));
        products[b] = _mm_load_si128(reinterpret_cast<const __m128i*>(table.lane[b]));
    }
    __m128i s = _mm_setzero_si128();
    for (int k = 0; k < ReedSolomonDecoder::kLength; ++k) {
        __m128i turned = _mm_setzero_si128();
        for (int b = 0; b < 8; ++b) {
            const __m128i set = _mm_cmpeq_epi8(_mm_and_si128(s, bits[b]), bits[b]);
            turned = _mm_xor_si128(turned, _mm_and_si128(set, products[b]));
        }
        s = _mm_xor_si128(turned, _mm_set1_epi8(char(word[k])));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(syndromes), s);
}

ReedSolomonDecoder::Result ReedSolomonDecoder::decode(uint8_t* word) const
{
    Result result;
    Poly syndrome;
    uint8_t s[kParity];
    rsSyndromes_sse41(word, s);
    bool clean = true;
    for (int j = 0; j < kParity; ++j) {
        syndrome.c[size_t(j)] = s[j];
        clean = clean && s[j] == 0;
    }
    if (clean)
        return result;
    syndrome.degree = kParity - 1;
    syndrome.trim();

    // Berlekamp–Massey: the error locator Λ(x) with Λ(0) = 1.
    Poly locator, previous;
    locator.c[0] = previous.c[0] = 1;
    locator.degree = previous.degree = 0;
    int length = 0, shift = 1;
    uint8_t previousDiscrepancy = 1;
    for (int n = 0; n < kParity; ++n) {
        uint8_t d = syndrome.c[size_t(n)];
        for (int i = 1; i <= length; ++i)
            d = F::add(d, F::mul(locator.c[size_t(i)], syndrome.c[size_t(n - i)]));
        if (d == 0) {
            ++shift;
            continue;
        }
        const uint8_t scale = F::div(d, previousDiscrepancy);
        Poly next = locator;
        for (int i = 0; i + shift < 17 && i <= previous.degree; ++i)
            next.c[size_t(i + shift)] = F::add(next.c[size_t(i + shift)], F::mul(scale, previous.c[size_t(i)]));
        next.degree = 16;
        next.trim();
        if (2 * length <= n) {
            previous = locator;
            length = n + 1 - length;
            previousDiscrepancy = d;
            shift = 1;
        } else {
            ++shift;
        }
        locator = next;
    }
    const int nu = locator.degree;
    if (nu > kParity / 2 || nu != length) {
        result.corrected = false;
        return result;
    }

    // Chien search over the 204 positions: byte k is x^(203 − k), so it is in
    // error when Λ(α^−(203 − k)) = 0.
    int positions[kParity / 2];
    int found = 0;
    for (int k = 0; k < kLength && found <= nu; ++k) {
        if (locator.evaluate(F::power(-(kLength - 1 - k))) == 0) {
            if (found == nu) {
                ++found;
                break;
            }
            positions[found++] = k;
        }
    }
    // A locator whose roots are not all inside the shortened word (or are
    // too few) means more errors than the code can correct: correcting the
    // positions found would only add errors.
    if (found != nu) {
        result.corrected = false;
        return result;
    }

    // Forney with first consecutive root α^0: Ω = S·Λ mod x^16,
    // e = X·Ω(X^−1) / Λ'(X^−1) for the locator X = α^(203 − k).
    Poly omega;
    for (int i = 0; i < kParity; ++i) {
        uint8_t v = 0;
        for (int j = 0; j <= i && j <= nu; ++j)
            v = F::add(v, F::mul(locator.c[size_t(j)], syndrome.c[size_t(i - j)]));
        omega.c[size_t(i)] = v;
    }
    omega.degree = kParity - 1;
    omega.trim();
    const Poly derivative = locator.derivative();
    uint8_t values[kParity / 2];
    for (int e = 0; e < nu; ++e) {
        const int power = kLength - 1 - positions[e];
        const uint8_t xInverse = F::power(-power);
        const uint8_t denominator = derivative.evaluate(xInverse);
        if (denominator == 0) {
            result.corrected = false;
            return result;
        }
        values[e] = F::mul(F::power(power), F::div(omega.evaluate(xInverse), denominator));
    }
    for (int e = 0; e < nu; ++e)
        word[positions[e]] = F::add(word[positions[e]], values[e]);
    result.byteErrors = nu;
    return result;
}
