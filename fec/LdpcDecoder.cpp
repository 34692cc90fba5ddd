#include "fec/LdpcDecoder.h"

#include "fec/BbDescrambleTable.h"

#include <smmintrin.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr int kGroup = 360;

int8_t satAdd(int a, int b) { return int8_t(std::clamp(a + b, -128, 127)); }
int8_t satSub(int a, int b) { return int8_t(std::clamp(a - b, -128, 127)); }

// Carves 64-byte aligned regions out of the arena.
class ArenaCursor {
public:
    ArenaCursor(uint8_t* base, size_t bytes) : base(base), bytes(bytes) {}
    template <typename T>
    T* take(size_t count)
    {
        const size_t start = (used + 63) & ~size_t(63);
        const size_t length = count * sizeof(T);
        if (start > bytes || length > bytes - start) {
            failed = true;
            return nullptr;
        }
        used = start + length;
        return reinterpret_cast<T*>(base + start);
    }
    bool ok() const { return !failed; }

private:
    uint8_t* base;
    size_t bytes;
    size_t used = 0;
    bool failed = false;
};

// Writes the low `lanes` bytes of x to dst.
inline void storeLanes(void* dst, __m128i x, int lanes)
{
    if (lanes == 16) {
        _mm_storeu_si128(static_cast<__m128i*>(dst), x);
    } else if (lanes == 8) {
        _mm_storel_epi64(static_cast<__m128i*>(dst), x);
    } else {
        alignas(16) int8_t t[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(t), x);
        std::memcpy(dst, t, size_t(lanes));
    }
}

inline __m128i load(const int8_t* src) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)); }

} // namespace

bool LdpcDecoder::build(const LDPCInterface& code, uint8_t* arena, size_t bytes)
{
    built = false;
    const std::unique_ptr<LDPCInterface> walk(code.clone());
    N = walk->codewordBits();
    K = walk->infoBits();
    L = walk->edgeCount();
    R = N - K;
    W = walk->maxCheckDegree() - 2;
    if (walk->circulantSize() != kGroup || K <= 0 || K > 65536 || R <= 0 || R % kGroup != 0 || W < 1 || W > 30
        || N % 8 != 0 || N / 8 > kBbScrambleBytes || arena == nullptr)
        return false;
    q = R / kGroup;

    ArenaCursor cursor(arena, bytes);
    uint16_t* natural = cursor.take<uint16_t>(size_t(R) * W);
    uint8_t* counts = cursor.take<uint8_t>(size_t(R));
    messages = cursor.take<int8_t>(size_t(L) + 16);
    parity = cursor.take<int8_t>(size_t(R) + 16);
    checkBits = cursor.take<uint16_t>(size_t(R) * W);
    checkInfoCount = cursor.take<uint8_t>(size_t(q));
    bitValues = cursor.take<int8_t>(size_t(N) + 16);
    classWidth = cursor.take<uint8_t>(size_t(q));
    classOffset = cursor.take<int32_t>(size_t(q));
    slotBase = cursor.take<int32_t>(size_t(R) * W);
    int32_t* firstSeen = cursor.take<int32_t>(size_t(K));
    int32_t* lastSeen = cursor.take<int32_t>(size_t(K));
    if (!cursor.ok())
        return false;

    // Check-node lists in natural order (EN 302 307-1 §5.3.2: bit i joins the
    // accumulator at every address the walk gives for it).
    std::memset(natural, 0, size_t(R) * W * sizeof(uint16_t));
    std::memset(counts, 0, size_t(R));
    walk->rewind();
    for (int bit = 0; bit < K; ++bit) {
        const int degree = walk->currentDegree();
        const int32_t* addresses = walk->currentAddresses();
        for (int k = 0; k < degree; ++k) {
            const int32_t a = addresses[k];
            if (a < 0 || a >= R || counts[a] >= W)
                return false;
            natural[size_t(a) * W + counts[a]++] = uint16_t(bit);
        }
        walk->advance();
    }
    int infoEdgeTotal = 0;
    for (int c = 0; c < R; ++c) {
        if (counts[c] != counts[c % q])
            return false;
        infoEdgeTotal += counts[c];
    }
    if (infoEdgeTotal + 2 * R - 1 != L || counts[0] < 1)
        return false;

    // Processing order: position 360·i + j is natural check node q·j + i.
    for (int i = 0; i < q; ++i) {
        checkInfoCount[i] = counts[i];
        for (int j = 0; j < kGroup; ++j)
            std::memcpy(checkBits + size_t(kGroup * i + j) * W, natural + size_t(q * j + i) * W, size_t(W) * 2);
    }

    // Lane groups: nodes of one class may be updated together when no two of
    // them within the group's span share a bit. A bit joined to several nodes
    // of class i sits at nodes whose smallest cyclic distance bounds the span.
    std::fill(firstSeen, firstSeen + K, -1);
    std::fill(lastSeen, lastSeen + K, -1);
    int32_t offset = 0;
    for (int i = 0; i < q; ++i) {
        const int count = checkInfoCount[i];
        int distance = kGroup;
        for (int j = 0; j < kGroup; ++j) {
            const int p = kGroup * i + j;
            for (int k = 0; k < count; ++k) {
                const int b = checkBits[size_t(p) * W + k];
                if (lastSeen[b] >= kGroup * i) {
                    distance = std::min(distance, p - lastSeen[b]);
                    distance = std::min(distance, kGroup - (p - firstSeen[b]));
                } else {
                    firstSeen[b] = p;
                }
                lastSeen[b] = p;
            }
        }
        int width = 16;
        while (width > distance)
            width /= 2;
        classWidth[i] = uint8_t(width);
        classOffset[i] = offset;
        offset += (count + 2) * kGroup;
        for (int j0 = 0; j0 < kGroup; j0 += width) {
            const int lanes = std::min(width, kGroup - j0);
            const int p0 = kGroup * i + j0;
            for (int k = 0; k < count; ++k) {
                const int base = checkBits[size_t(p0) * W + k];
                bool consecutive = true;
                for (int l = 1; l < lanes; ++l)
                    consecutive = consecutive && checkBits[size_t(p0 + l) * W + k] == base + l;
                slotBase[size_t(p0) * W + k] = consecutive ? base : -1;
            }
        }
    }
    fastMessages = cursor.take<int8_t>(size_t(offset) + 16);
    if (!cursor.ok())
        return false;
    built = true;
    return true;
}

void LdpcDecoder::loadBits(const int8_t* soft)
{
    for (int n = 0; n < N; ++n)
        bitValues[n] = int8_t(soft[n] / 4); // toward zero: −128 → −32, −3 → 0
    std::memset(bitValues + N, 0, 16);
    for (int i = 0; i < q; ++i)
        for (int j = 0; j < kGroup; ++j)
            parity[kGroup * i + j] = bitValues[K + q * j + i];
    std::memset(parity + R, 0, 16);
}

// ---------------------------------------------------------------------------
// Reference: one check node after another.

bool LdpcDecoder::checksHoldReference() const
{
    auto combine = [](int s, int8_t x) { return x > 0 ? s : (x < 0 ? -s : 0); };
    for (int p = 0; p < R; ++p) {
        const int i = p / kGroup;
        const int j = p % kGroup;
        int s = combine(1, parity[p]);
        if (i > 0)
            s = combine(s, parity[p - kGroup]);
        else if (j > 0)
            s = combine(s, parity[kGroup * (q - 1) + j - 1]);
        const uint16_t* bits = bitsOfCheck(p);
        for (int k = 0; k < checkInfoCount[i]; ++k)
            s = combine(s, bitValues[bits[k]]);
        if (s <= 0)
            return false;
    }
    return true;
}

void LdpcDecoder::updatePassReference()
{
    int8_t* stored = messages;
    for (int p = 0; p < R; ++p) {
        const int i = p / kGroup;
        const int j = p % kGroup;
        const int count = checkInfoCount[i];
        const int predecessor = i > 0 ? p - kGroup : (j > 0 ? kGroup * (q - 1) + j - 1 : -1);
        const int d = count + (predecessor >= 0 ? 2 : 1);
        const uint16_t* bits = bitsOfCheck(p);

        int8_t in[32];
        for (int k = 0; k < count; ++k)
            in[k] = satSub(bitValues[bits[k]], stored[k]);
        in[count] = satSub(parity[p], stored[count]);
        if (predecessor >= 0)
            in[count + 1] = satSub(parity[predecessor], stored[count + 1]);

        // Offset min-sum, offset 1.
        int m[32];
        for (int k = 0; k < d; ++k)
            m[k] = std::max(std::abs(std::max<int>(in[k], -127)) - 1, 0);
        int smallest = std::min(m[0], m[1]);
        int second = std::max(m[0], m[1]);
        uint8_t signs = uint8_t(in[0]) ^ uint8_t(in[1]);
        for (int k = 2; k < d; ++k) {
            second = std::min(second, std::max(smallest, m[k]));
            smallest = std::min(smallest, m[k]);
            signs ^= uint8_t(in[k]);
        }
        int8_t out[32];
        for (int k = 0; k < d; ++k) {
            const int magnitude = m[k] == smallest ? second : smallest;
            out[k] = int8_t(((signs ^ uint8_t(in[k])) & 0x80) ? -magnitude : magnitude);
        }

        for (int k = 0; k < count; ++k)
            bitValues[bits[k]] = satAdd(in[k], out[k]);
        parity[p] = satAdd(in[count], out[count]);
        if (predecessor >= 0)
            parity[predecessor] = satAdd(in[count + 1], out[count + 1]);
        for (int k = 0; k < d; ++k)
            stored[k] = int8_t(std::clamp<int>(out[k], -32, 31));
        stored += d;
    }
}

int LdpcDecoder::decodeReference(const int8_t* soft, uint8_t* out)
{
    if (!built)
        return -1;
    loadBits(soft);
    std::memset(messages, 0, size_t(L));
    int budget = kPasses;
    while (!checksHoldReference()) {
        if (--budget < 0)
            break;
        updatePassReference();
    }
    for (int i = 0; i < q; ++i)
        for (int j = 0; j < kGroup; ++j)
            bitValues[K + q * j + i] = parity[kGroup * i + j];
    for (int b = 0; b < N / 8; ++b) {
        uint8_t byte = 0;
        for (int t = 0; t < 8; ++t)
            byte = uint8_t((byte << 1) | (bitValues[8 * b + t] < 0 ? 1 : 0));
        out[b] = byte ^ kBbScrambleTable[size_t(b)];
    }
    return budget < 0 ? -1 : budget;
}

// ---------------------------------------------------------------------------
// Fast: lane groups of one residue class at once, SSE4.1.

bool LdpcDecoder::checksHoldFast() const
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi8(1);
    const __m128i laneZero = _mm_setr_epi8(-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    for (int i = 0; i < q; ++i) {
        const int count = checkInfoCount[i];
        const int width = classWidth[i];
        for (int j0 = 0; j0 < kGroup; j0 += width) {
            const int lanes = std::min(width, kGroup - j0);
            const int p0 = kGroup * i + j0;
            __m128i x = load(parity + p0);
            __m128i signs = x;
            __m128i zeros = _mm_cmpeq_epi8(x, zero);
            __m128i pred = load(parity + (i > 0 ? p0 - kGroup : kGroup * (q - 1) + j0 - 1));
            if (p0 == 0)
                pred = _mm_blendv_epi8(pred, one, laneZero); // node 0 has no predecessor
            signs = _mm_xor_si128(signs, pred);
            zeros = _mm_or_si128(zeros, _mm_cmpeq_epi8(pred, zero));
            const int32_t* bases = slotBase + size_t(p0) * W;
            for (int k = 0; k < count; ++k) {
                if (bases[k] >= 0) {
                    x = load(bitValues + bases[k]);
                } else {
                    alignas(16) int8_t t[16] = {};
                    for (int l = 0; l < lanes; ++l)
                        t[l] = bitValues[checkBits[size_t(p0 + l) * W + k]];
                    x = _mm_load_si128(reinterpret_cast<const __m128i*>(t));
                }
                signs = _mm_xor_si128(signs, x);
                zeros = _mm_or_si128(zeros, _mm_cmpeq_epi8(x, zero));
            }
            const int failing = _mm_movemask_epi8(_mm_or_si128(signs, zeros)) & ((1 << lanes) - 1);
            if (failing)
                return false;
        }
    }
    return true;
}

void LdpcDecoder::updatePassFast()
{
    const __m128i minus127 = _mm_set1_epi8(-127);
    const __m128i one = _mm_set1_epi8(1);
    const __m128i lowClamp = _mm_set1_epi8(-32);
    const __m128i highClamp = _mm_set1_epi8(31);
    const __m128i neutral = _mm_set1_epi8(127);
    const __m128i laneZero = _mm_setr_epi8(-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);

    __m128i in[32];
    __m128i m[32];
    alignas(16) int8_t gathered[32][16];
    for (int i = 0; i < q; ++i) {
        const int count = checkInfoCount[i];
        const int d = count + 2;
        const int width = classWidth[i];
        int8_t* classMessages = fastMessages + classOffset[i];
        for (int j0 = 0; j0 < kGroup; j0 += width) {
            const int lanes = std::min(width, kGroup - j0);
            const int p0 = kGroup * i + j0;
            const int32_t* bases = slotBase + size_t(p0) * W;
            int8_t* stored = classMessages + j0; // slot k at stored + 360·k

            for (int k = 0; k < count; ++k) {
                __m128i x;
                if (bases[k] >= 0) {
                    x = load(bitValues + bases[k]);
                } else {
                    for (int l = 0; l < lanes; ++l)
                        gathered[k][l] = bitValues[checkBits[size_t(p0 + l) * W + k]];
                    x = _mm_load_si128(reinterpret_cast<const __m128i*>(gathered[k]));
                }
                in[k] = _mm_subs_epi8(x, load(stored + kGroup * k));
            }
            int8_t* own = parity + p0;
            int8_t* pred = parity + (i > 0 ? p0 - kGroup : kGroup * (q - 1) + j0 - 1);
            const __m128i predBefore = load(pred);
            in[count] = _mm_subs_epi8(load(own), load(stored + kGroup * count));
            in[count + 1] = _mm_subs_epi8(predBefore, load(stored + kGroup * (count + 1)));
            if (p0 == 0) // node 0 has no predecessor: the largest magnitude changes nothing
                in[count + 1] = _mm_blendv_epi8(in[count + 1], neutral, laneZero);

            // Offset min-sum, offset 1: m = max(|max(in, −127)| − 1, 0).
            __m128i signs = _mm_setzero_si128();
            for (int k = 0; k < d; ++k) {
                m[k] = _mm_subs_epu8(_mm_abs_epi8(_mm_max_epi8(in[k], minus127)), one);
                signs = _mm_xor_si128(signs, in[k]);
            }
            __m128i smallest = _mm_min_epu8(m[0], m[1]);
            __m128i second = _mm_max_epu8(m[0], m[1]);
            for (int k = 2; k < d; ++k) {
                second = _mm_min_epu8(second, _mm_max_epu8(smallest, m[k]));
                smallest = _mm_min_epu8(smallest, m[k]);
            }
            for (int k = 0; k < d; ++k) {
                const __m128i magnitude = _mm_blendv_epi8(smallest, second, _mm_cmpeq_epi8(m[k], smallest));
                // Sign from bit 7 of S ⊕ in[k]; the OR with 1 keeps _mm_sign_epi8 off its zero case.
                const __m128i out = _mm_sign_epi8(magnitude, _mm_or_si128(_mm_xor_si128(signs, in[k]), one));
                const __m128i updated = _mm_adds_epi8(in[k], out);
                storeLanes(stored + kGroup * k, _mm_min_epi8(_mm_max_epi8(out, lowClamp), highClamp), lanes);
                if (k < count) {
                    if (bases[k] >= 0) {
                        storeLanes(bitValues + bases[k], updated, lanes);
                    } else {
                        _mm_store_si128(reinterpret_cast<__m128i*>(gathered[k]), updated);
                        for (int l = 0; l < lanes; ++l)
                            bitValues[checkBits[size_t(p0 + l) * W + k]] = gathered[k][l];
                    }
                } else if (k == count) {
                    storeLanes(own, updated, lanes);
                } else {
                    storeLanes(pred, p0 == 0 ? _mm_blendv_epi8(updated, predBefore, laneZero) : updated, lanes);
                }
            }
        }
    }
}

int LdpcDecoder::decodeFast(const int8_t* soft, uint8_t* out)
{
    if (!built)
        return -1;
    loadBits(soft);
    std::memset(fastMessages, 0, size_t(classOffset[q - 1] + (checkInfoCount[q - 1] + 2) * kGroup + 16));
    int budget = kPasses;
    while (!checksHoldFast()) {
        if (--budget < 0)
            break;
        updatePassFast();
    }
    for (int i = 0; i < q; ++i)
        for (int j = 0; j < kGroup; ++j)
            bitValues[K + q * j + i] = parity[kGroup * i + j];

    // Sign bits, first bit of each byte in the most significant position.
    const __m128i reverse = _mm_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    const int bytes = N / 8;
    int b = 0;
    for (; b + 2 <= bytes; b += 2) {
        const int mask = _mm_movemask_epi8(_mm_shuffle_epi8(load(bitValues + 8 * b), reverse));
        out[b] = uint8_t(mask) ^ kBbScrambleTable[size_t(b)];
        out[b + 1] = uint8_t(mask >> 8) ^ kBbScrambleTable[size_t(b) + 1];
    }
    if (b < bytes) {
        const int mask = _mm_movemask_epi8(_mm_shuffle_epi8(load(bitValues + 8 * b), reverse));
        out[b] = uint8_t(mask) ^ kBbScrambleTable[size_t(b)];
    }
    return budget < 0 ? -1 : budget;
}
