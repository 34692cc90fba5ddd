#include "fec/ViterbiDecoder.h"

#include <smmintrin.h>

#include <algorithm>
#include <cmath>

namespace {

// Decoder steps of one depuncturing period: the positions of X and Y in the
// period's values, −1 where the bit was punctured (EN 300 421 table 2).
struct Puncturing {
    int period;
    int steps;
    int x[7];
    int y[7];
};

constexpr Puncturing kPuncturing[ViterbiDecoder::kRateCount] = {
    {2, 1, {0}, {1}},                                                       // X1 Y1
    {6, 4, {0, -1, 3, -1}, {1, 2, 4, 5}},                                   // X1 Y1 Y2 X3 Y3 Y4
    {4, 3, {0, -1, 3}, {1, 2, -1}},                                         // X1 Y1 Y2 X3
    {6, 5, {0, -1, 3, -1, 5}, {1, 2, -1, 4, -1}},                           // X1 Y1 Y2 X3 Y4 X5
    {8, 7, {0, -1, -1, -1, 5, -1, 7}, {1, 2, 3, 4, -1, 6, -1}},             // X1 Y1 Y2 Y3 Y4 X5 Y6 X7
};

constexpr const char* kRateNames[ViterbiDecoder::kRateCount] = {"FEC 1/2", "FEC 2/3", "FEC 3/4", "FEC 5/6",
                                                                 "FEC 7/8"};

// The branch metric of the upper branch of butterfly i (predecessor i,
// input 0) among c0 = x + y, c1 = y − x, c2 = −x − y, c3 = x − y.
constexpr int kBranchSelect[32] = {0, 1, 2, 3, 2, 3, 0, 1, 0, 1, 2, 3, 2, 3, 0, 1,
                                   3, 2, 1, 0, 1, 0, 3, 2, 3, 2, 1, 0, 1, 0, 3, 2};

// × 8, truncated toward zero, within ±127; NaN gives an erasure.
inline int32_t softOf(float component)
{
    const float v = component * 8.0f;
    if (!(v == v))
        return 0;
    return int32_t(std::clamp(v, -float(ViterbiDecoder::kSoftLimit), float(ViterbiDecoder::kSoftLimit)));
}

} // namespace

// The per-value path is small and hot: keep it in one piece.
#define VITERBI_INLINE inline __attribute__((always_inline))

ViterbiDecoder::ViterbiDecoder(Kernel kernel)
    : kernel(kernel)
{
}

int ViterbiDecoder::periodOfRate(int rateType)
{
    return rateType >= 0 && rateType < kRateCount ? kPuncturing[rateType].period : 2;
}

const char* ViterbiDecoder::rateName(int rateType)
{
    return rateType >= 0 && rateType < kRateCount ? kRateNames[rateType] : nullptr;
}

void ViterbiDecoder::setRateType(int rateType)
{
    rate = rateType;
    valueCount = 0;
    periodLength = periodOfRate(rateType);
}

int32_t ViterbiDecoder::softValue(float component)
{
    return softOf(component);
}

VITERBI_INLINE void ViterbiDecoder::pushValue(int32_t value, std::vector<uint8_t>& out)
{
    if (skip) {
        skip = false;
        return;
    }
    values[valueCount++] = value;
    if (valueCount < periodLength)
        return;
    valueCount = 0;
    if (rate >= 0 && rate < kRateCount)
        runPeriod(out);
}

VITERBI_INLINE void ViterbiDecoder::runPeriod(std::vector<uint8_t>& out)
{
    const Puncturing& p = kPuncturing[rate];
    for (int s = 0; s < p.steps; ++s)
        step(p.x[s] < 0 ? 0 : values[p.x[s]], p.y[s] < 0 ? 0 : values[p.y[s]], out);
}

VITERBI_INLINE void ViterbiDecoder::step(int32_t x, int32_t y, std::vector<uint8_t>& out)
{
    const bool renormalise = stepCounter % 4 == 0;
    const uint32_t bit = kernel == Kernel::Vector ? stepVector(x, y, renormalise) : stepReference(x, y, renormalise);
    stepCounter = (stepCounter + 1) % 64;
    outputRegister = (outputRegister << 1) | bit;
    if (stepCounter == 0) {
        for (int b = 7; b >= 0; --b)
            out.push_back(uint8_t(outputRegister >> (8 * b)));
    }
}

VITERBI_INLINE uint32_t ViterbiDecoder::stepReference(int32_t x, int32_t y, bool renormalise)
{
    const int32_t candidates[4] = {x + y, y - x, -x - y, x - y};
    const int32_t* p = refMetric[refCurrent];
    int32_t* n = refMetric[1 - refCurrent];
    const uint64_t(*r)[3] = refHistory[refCurrent];
    uint64_t(*nr)[3] = refHistory[1 - refCurrent];
    auto exchange = [&](int state, int from, uint64_t d) {
        nr[state][2] = (r[from][2] << 1) | (r[from][1] >> 63);
        nr[state][1] = (r[from][1] << 1) | (r[from][0] >> 63);
        nr[state][0] = (r[from][0] << 1) | d;
    };
    for (int i = 0; i < 32; ++i) {
        const int32_t bm = candidates[kBranchSelect[i]];
        // Successor 2i (input 0) and 2i + 1 (input 1); ties keep predecessor i.
        const int32_t a0 = p[i] + bm, b0 = p[i + 32] - bm;
        const int32_t a1 = p[i] - bm, b1 = p[i + 32] + bm;
        const uint64_t d0 = b0 > a0, d1 = b1 > a1;
        n[2 * i] = d0 ? b0 : a0;
        n[2 * i + 1] = d1 ? b1 : a1;
        exchange(2 * i, d0 ? i + 32 : i, d0);
        exchange(2 * i + 1, d1 ? i + 32 : i, d1);
    }
    refCurrent = 1 - refCurrent;
    if (renormalise) {
        const int32_t least = *std::min_element(n, n + kStates);
        for (int s = 0; s < kStates; ++s)
            n[s] -= least;
    }
    return uint32_t(refHistory[refCurrent][0][2] >> 63);
}

VITERBI_INLINE uint32_t ViterbiDecoder::stepVector(int32_t x, int32_t y, bool renormalise)
{
    // Branch metrics of butterflies 0–15: c0 c1 c2 c3 c2 c3 c0 c1 (twice), and
    // of 16–31: c3 c2 c1 c0 c1 c0 c3 c2 (twice), with c2 = −c0 and c3 = −c1.
    const int32_t c0 = x + y, c1 = y - x;
    const __m128i pairLow = _mm_set1_epi32(int32_t(uint32_t(uint16_t(c0)) | (uint32_t(uint16_t(c1)) << 16)));
    const __m128i pairHigh = _mm_set1_epi32(int32_t(uint32_t(uint16_t(c1)) | (uint32_t(uint16_t(c0)) << 16)));
    const __m128i bmLow = _mm_sign_epi16(pairLow, _mm_setr_epi16(1, 1, -1, -1, -1, -1, 1, 1));
    const __m128i bmHigh = _mm_sign_epi16(pairHigh, _mm_setr_epi16(-1, -1, 1, 1, 1, 1, -1, -1));

    __m128i p[8];
    for (int v = 0; v < 8; ++v)
        p[v] = _mm_load_si128(reinterpret_cast<const __m128i*>(metric) + v);
    __m128i n[8];
    uint64_t decided = 0;
    for (int g = 0; g < 4; ++g) {
        // Butterflies 8g … 8g + 7: predecessors in p[g] and p[g + 4].
        const __m128i bm = g < 2 ? bmLow : bmHigh;
        const __m128i a0 = _mm_add_epi16(p[g], bm), b0 = _mm_sub_epi16(p[g + 4], bm);
        const __m128i a1 = _mm_sub_epi16(p[g], bm), b1 = _mm_add_epi16(p[g + 4], bm);
        const __m128i even = _mm_max_epi16(a0, b0), odd = _mm_max_epi16(a1, b1);
        const __m128i dEven = _mm_cmpgt_epi16(b0, a0), dOdd = _mm_cmpgt_epi16(b1, a1);
        // New states 16g … 16g + 15, even and odd interleaved.
        n[2 * g] = _mm_unpacklo_epi16(even, odd);
        n[2 * g + 1] = _mm_unpackhi_epi16(even, odd);
        const __m128i d = _mm_packs_epi16(_mm_unpacklo_epi16(dEven, dOdd), _mm_unpackhi_epi16(dEven, dOdd));
        decided |= uint64_t(uint32_t(_mm_movemask_epi8(d))) << (16 * g);
    }
    if (renormalise) {
        __m128i least = _mm_min_epi16(_mm_min_epi16(_mm_min_epi16(n[0], n[1]), _mm_min_epi16(n[2], n[3])),
                                      _mm_min_epi16(_mm_min_epi16(n[4], n[5]), _mm_min_epi16(n[6], n[7])));
        // Signed minimum through the unsigned horizontal minimum.
        const __m128i bias = _mm_set1_epi16(int16_t(0x8000));
        least = _mm_xor_si128(_mm_minpos_epu16(_mm_xor_si128(least, bias)), bias);
        least = _mm_shufflelo_epi16(least, 0);
        least = _mm_unpacklo_epi64(least, least);
        for (int v = 0; v < 8; ++v)
            n[v] = _mm_sub_epi16(n[v], least);
    }
    for (int v = 0; v < 8; ++v)
        _mm_store_si128(reinterpret_cast<__m128i*>(metric) + v, n[v]);

    // Extend the path of state 0 back until it meets the previous one.
    ++now;
    decisions[now] = decided;
    path[now] = 0;
    unsigned state = 0;
    uint8_t t = now;
    for (int k = 1; k < kHistoryBits; ++k) {
        const unsigned from = (state >> 1) | unsigned((decisions[t] >> state) & 1) << 5;
        --t;
        if (path[t] == from)
            break;
        path[t] = uint8_t(from);
        state = from;
    }
    // The oldest bit of state 0's 192-bit history.
    const uint8_t oldest = uint8_t(now - (kHistoryBits - 1));
    return uint32_t((decisions[oldest] >> path[oldest]) & 1);
}

void ViterbiDecoder::decodeSymbols(const std::complex<float>* symbols, size_t count, std::vector<uint8_t>& out)
{
    for (size_t k = 0; k < count; ++k) {
        pushValue(softOf(symbols[k].real()), out);
        pushValue(softOf(symbols[k].imag()), out);
    }
}

void ViterbiDecoder::decodeSoft(const int32_t* soft, size_t count, std::vector<uint8_t>& out)
{
    for (size_t k = 0; k < count; ++k)
        pushValue(std::clamp(soft[k], -kSoftLimit, kSoftLimit), out);
}
