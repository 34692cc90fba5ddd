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
    startCheckpoint(0);
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
    if (skips > 0) {
        --skips;
        return;
    }
    values[valueCount++] = value;
    if (valueCount < periodLength)
        return;
    valueCount = 0;
    if (rate >= 0 && rate < kRateCount)
        runPeriod(values, out);
}

VITERBI_INLINE void ViterbiDecoder::runPeriod(const int32_t* period, std::vector<uint8_t>& out)
{
    const Puncturing& p = kPuncturing[rate];
    for (int s = 0; s < p.steps; ++s)
        step(p.x[s] < 0 ? 0 : period[p.x[s]], p.y[s] < 0 ? 0 : period[p.y[s]], out);
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

    const __m128i interleave = _mm_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
    __m128i p[8];
    for (int v = 0; v < 8; ++v)
        p[v] = _mm_load_si128(reinterpret_cast<const __m128i*>(metric) + v);
    __m128i n[8];
    __m128i decidedBytes[4];
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
        // Decisions of the same states as bytes: even ones, odd ones, interleaved.
        const __m128i d = _mm_shuffle_epi8(_mm_packs_epi16(dEven, dOdd), interleave);
        decidedBytes[g] = d;
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

    // Where each state's survivor was at the two latest checkpoints: the
    // state of the predecessor it chose, as byte shuffles.
    for (auto& slot : ancestor) {
        __m128i* a = reinterpret_cast<__m128i*>(slot);
        const __m128i v0 = _mm_load_si128(a), v1 = _mm_load_si128(a + 1);
        const __m128i v2 = _mm_load_si128(a + 2), v3 = _mm_load_si128(a + 3);
        // New states 16g … 16g + 15 come from 8g … 8g + 7 or 32 + 8g … 32 + 8g + 7.
        _mm_store_si128(a, _mm_blendv_epi8(_mm_unpacklo_epi8(v0, v0), _mm_unpacklo_epi8(v2, v2), decidedBytes[0]));
        _mm_store_si128(a + 1, _mm_blendv_epi8(_mm_unpackhi_epi8(v0, v0), _mm_unpackhi_epi8(v2, v2), decidedBytes[1]));
        _mm_store_si128(a + 2, _mm_blendv_epi8(_mm_unpacklo_epi8(v1, v1), _mm_unpacklo_epi8(v3, v3), decidedBytes[2]));
        _mm_store_si128(a + 3, _mm_blendv_epi8(_mm_unpackhi_epi8(v1, v1), _mm_unpackhi_epi8(v3, v3), decidedBytes[3]));
    }
    const uint64_t t = ++time;
    decisions[t % kDecisionRing] = decided;
    if (t % kCheckpointSpacing == 0)
        startCheckpoint(t);
    if (t < uint64_t(kHistoryBits))
        return 0;   // the histories are still filling with their initial zeros
    return oldestBit(t);
}

void ViterbiDecoder::startCheckpoint(uint64_t t)
{
    uint8_t* slot = ancestor[(t / kCheckpointSpacing) % 2];
    for (int s = 0; s < kStates; ++s)
        slot[s] = uint8_t(s);
}

VITERBI_INLINE uint32_t ViterbiDecoder::oldestBit(uint64_t t)
{
    // The oldest bit of state 0's 192-bit history is the decision that led to
    // its path's state at t − 192, i.e. that state's top bit. The path is
    // found from the checkpoint K between 96 and 191 steps back, through
    // which state 0's survivor passes in state s*, and traced back from there;
    // s* seldom changes, so the trace is mostly reused.
    const uint64_t k = (t - kCheckpointSpacing) / kCheckpointSpacing * kCheckpointSpacing;
    const uint8_t start = ancestor[(k / kCheckpointSpacing) % 2][0];
    if (k != segmentEnd || start != segment[kCheckpointSpacing]) {
        const bool sameCheckpoint = k == segmentEnd;
        segmentEnd = k;
        // segment[i] is the path's state at time k − 96 + i.
        unsigned state = start;
        segment[kCheckpointSpacing] = uint8_t(state);
        for (uint64_t tau = k, i = kCheckpointSpacing; i > 0; --tau, --i) {
            state = (state >> 1) | unsigned((decisions[tau % kDecisionRing] >> state) & 1) << 5;
            if (sameCheckpoint && segment[i - 1] == state)
                break;   // joins the path traced before
            segment[i - 1] = uint8_t(state);
        }
    }
    return segment[t - uint64_t(kHistoryBits) - (k - kCheckpointSpacing)] >> 5;
}

namespace {

constexpr size_t kChunk = 512;   // soft values converted at a time

// Soft values of 2·n components (I, Q, I, Q …): × 8, NaN to 0, limited to
// ±127, truncated toward zero; four at a time.
void softValues_cf32(const float* components, size_t count, int32_t* soft)
{
    const __m128 scale = _mm_set1_ps(8.0f);
    const __m128 high = _mm_set1_ps(float(ViterbiDecoder::kSoftLimit));
    const __m128 low = _mm_set1_ps(-float(ViterbiDecoder::kSoftLimit));
    size_t k = 0;
    for (; k + 4 <= count; k += 4) {
        __m128 v = _mm_mul_ps(_mm_loadu_ps(components + k), scale);
        v = _mm_and_ps(v, _mm_cmpord_ps(v, v));   // NaN → 0
        v = _mm_min_ps(_mm_max_ps(v, low), high);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(soft + k), _mm_cvttps_epi32(v));
    }
    for (; k < count; ++k)
        soft[k] = softOf(components[k]);
}

} // namespace

void ViterbiDecoder::decodeSymbols(const std::complex<float>* symbols, size_t count, std::vector<uint8_t>& out)
{
    int32_t soft[kChunk];
    const float* components = reinterpret_cast<const float*>(symbols);
    for (size_t k = 0; k < 2 * count; k += kChunk) {
        const size_t n = std::min(kChunk, 2 * count - k);
        softValues_cf32(components + k, n, soft);
        decodeLimited(soft, n, out);
    }
}

void ViterbiDecoder::decodeSoft(const int32_t* values, size_t count, std::vector<uint8_t>& out)
{
    int32_t soft[kChunk];
    for (size_t k = 0; k < count; k += kChunk) {
        const size_t n = std::min(kChunk, count - k);
        for (size_t i = 0; i < n; ++i)
            soft[i] = std::clamp(values[k + i], -kSoftLimit, kSoftLimit);
        decodeLimited(soft, n, out);
    }
}

void ViterbiDecoder::decodeLimited(const int32_t* soft, size_t count, std::vector<uint8_t>& out)
{
    size_t k = 0;
    // A pending skip or a partly filled period, value by value; then whole
    // periods straight from the input.
    while (k < count && (skips > 0 || valueCount != 0))
        pushValue(soft[k++], out);
    if (rate >= 0 && rate < kRateCount) {
        const size_t period = size_t(periodLength);
        for (; k + period <= count; k += period)
            runPeriod(soft + k, out);
    }
    while (k < count)
        pushValue(soft[k++], out);
}
