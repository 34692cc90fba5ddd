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
    messages = cursor.take<int8_t>(size_t(L) + 32);
    parity = cursor.take<int8_t>(size_t(R) + 32);
    checkBits = cursor.take<uint16_t>(size_t(R) * W);
    checkInfoCount = cursor.take<uint8_t>(size_t(q));
    bitValues = cursor.take<int8_t>(size_t(N) + 32);
    for (int isa = 0; isa < 2; ++isa) {
        classWidth[isa] = cursor.take<uint8_t>(size_t(q));
        slotBase[isa] = cursor.take<int32_t>(size_t(R) * W);
    }
    classOffset = cursor.take<int32_t>(size_t(q));
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
        classOffset[i] = offset;
        offset += (count + 2) * kGroup;
        for (int isa = 0; isa < 2; ++isa) {
            int width = isa == 0 ? 16 : 32;
            while (width > distance)
                width /= 2;
            classWidth[isa][i] = uint8_t(width);
            for (int j0 = 0; j0 < kGroup; j0 += width) {
                const int lanes = std::min(width, kGroup - j0);
                const int p0 = kGroup * i + j0;
                for (int k = 0; k < count; ++k) {
                    const int base = checkBits[size_t(p0) * W + k];
                    bool consecutive = true;
                    for (int l = 1; l < lanes; ++l)
                        consecutive = consecutive && checkBits[size_t(p0 + l) * W + k] == base + l;
                    slotBase[isa][size_t(p0) * W + k] = consecutive ? base : -1;
                }
            }
        }
    }
    fastMessageBytes = size_t(offset);
    fastMessages = cursor.take<int8_t>(fastMessageBytes + 32);
    if (!cursor.ok())
        return false;
    built = true;
    return true;
}

LdpcDecoderProfile LdpcDecoder::scaledProfile()
{
    LdpcDecoderProfile p;
    // Tuned with tavirel-ldpc-fer on QPSK 1/2 and 8PSK 2/3 normal frames at
    // ChannelLlr's 4 units per LLR: an offset of half an LLR; messages up to
    // about ±10 LLR, which leaves the bit values (±127) room above them, as a
    // bit that saturates loses what its messages carried.
    p.rule.offset = 2;
    p.rule.scaleShift = 0;
    p.rule.messageLow = -39;
    p.rule.messageHigh = 39;
    p.quarterInput = false;
    p.passes = 50;
    return p;
}

LdpcDecoderProfile LdpcDecoder::scaledProfile(int codeIndex)
{
    LdpcDecoderProfile p = scaledProfile();
    // Normal frames at 1/4 and 1/3 work at Es/N0 below −1 dB, where the
    // messages are small: half an LLR of offset erases what they carry (at
    // −2.05 dB, 18 % of 1/4 frames lost after 50 passes). A quarter LLR with
    // a 1/16 normalisation decodes them all there in about 24 passes; the
    // other codes lose with it (3/5 at its threshold: every frame).
    if (codeIndex == 0 || codeIndex == 1) {
        p.rule.offset = 1;
        p.rule.scaleShift = 4;
    }
    return p;
}

void LdpcDecoder::setProfile(const LdpcDecoderProfile& p)
{
    settings = p;
    settings.passes = std::clamp(p.passes, 1, kMaxPasses);
    settings.rule.scaleShift = int8_t(std::clamp<int>(p.rule.scaleShift, 0, 7));
    settings.rule.offset = int8_t(std::max<int>(p.rule.offset, 0));
    if (settings.rule.messageLow > settings.rule.messageHigh)
        std::swap(settings.rule.messageLow, settings.rule.messageHigh);
}

void LdpcDecoder::loadBits(const int8_t* soft)
{
    if (settings.quarterInput) {
        for (int n = 0; n < N; ++n)
            bitValues[n] = int8_t(soft[n] / 4); // toward zero: −128 → −32, −3 → 0
    } else {
        std::memcpy(bitValues, soft, size_t(N)); // −128 is handled as −127 by the passes
    }
    std::memset(bitValues + N, 0, 32);
    for (int i = 0; i < q; ++i)
        for (int j = 0; j < kGroup; ++j)
            parity[kGroup * i + j] = bitValues[K + q * j + i];
    std::memset(parity + R, 0, 32);
}

// ---------------------------------------------------------------------------
// Reference: one check node after another.

bool LdpcDecoder::checkHolds(int p) const
{
    auto combine = [](int s, int8_t x) { return x > 0 ? s : (x < 0 ? -s : 0); };
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
    return s > 0;
}

bool LdpcDecoder::checksHoldReference() const
{
    for (int p = 0; p < R; ++p)
        if (!checkHolds(p))
            return false;
    return true;
}

int LdpcDecoder::failingChecks() const
{
    if (!built)
        return 0;
    int failing = 0;
    for (int p = 0; p < R; ++p)
        failing += checkHolds(p) ? 0 : 1;
    return failing;
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

        // Min-sum: each node gets the smallest magnitude of the others, under the rule.
        int m[32];
        for (int k = 0; k < d; ++k)
            m[k] = std::abs(std::max<int>(in[k], -127));
        int smallest = std::min(m[0], m[1]);
        int second = std::max(m[0], m[1]);
        uint8_t signs = uint8_t(in[0]) ^ uint8_t(in[1]);
        for (int k = 2; k < d; ++k) {
            second = std::min(second, std::max(smallest, m[k]));
            smallest = std::min(smallest, m[k]);
            signs ^= uint8_t(in[k]);
        }
        const int smallestOut = minSumMagnitude(settings.rule, smallest);
        const int secondOut = minSumMagnitude(settings.rule, second);
        int8_t out[32];
        for (int k = 0; k < d; ++k) {
            const int magnitude = m[k] == smallest ? secondOut : smallestOut;
            out[k] = int8_t(((signs ^ uint8_t(in[k])) & 0x80) ? -magnitude : magnitude);
        }

        for (int k = 0; k < count; ++k)
            bitValues[bits[k]] = satAdd(in[k], out[k]);
        parity[p] = satAdd(in[count], out[count]);
        if (predecessor >= 0)
            parity[predecessor] = satAdd(in[count + 1], out[count + 1]);
        for (int k = 0; k < d; ++k)
            stored[k] = int8_t(std::clamp<int>(out[k], settings.rule.messageLow, settings.rule.messageHigh));
        stored += d;
    }
}

int LdpcDecoder::decodeReference(const int8_t* soft, uint8_t* out)
{
    if (!built)
        return -1;
    loadBits(soft);
    std::memset(messages, 0, size_t(L));
    int budget = settings.passes;
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

namespace {

struct Sse41 {
    using T = __m128i;
    static constexpr int kLanes = 16;
    static T load(const int8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void store(int8_t* p, T x) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x); }
    static void storeLow8(int8_t* p, T x) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), x); }
    static T set1(int8_t x) { return _mm_set1_epi8(x); }
    static T laneZero() { return _mm_setr_epi8(-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0); }
    static T subs(T a, T b) { return _mm_subs_epi8(a, b); }
    static T adds(T a, T b) { return _mm_adds_epi8(a, b); }
    static T maxs(T a, T b) { return _mm_max_epi8(a, b); }
    static T mins(T a, T b) { return _mm_min_epi8(a, b); }
    static T minu(T a, T b) { return _mm_min_epu8(a, b); }
    static T maxu(T a, T b) { return _mm_max_epu8(a, b); }
    static T subsu(T a, T b) { return _mm_subs_epu8(a, b); }
    static T abs(T a) { return _mm_abs_epi8(a); }
    static T sub(T a, T b) { return _mm_sub_epi8(a, b); }
    static T band(T a, T b) { return _mm_and_si128(a, b); }
    static T srli16(T a, int n) { return _mm_srli_epi16(a, n); }
    static T bxor(T a, T b) { return _mm_xor_si128(a, b); }
    static T bor(T a, T b) { return _mm_or_si128(a, b); }
    static T cmpeq(T a, T b) { return _mm_cmpeq_epi8(a, b); }
    static T blendv(T a, T b, T mask) { return _mm_blendv_epi8(a, b, mask); }
    static T sign(T a, T b) { return _mm_sign_epi8(a, b); }
    static uint32_t movemask(T a) { return uint32_t(_mm_movemask_epi8(a)); }
};

} // namespace

bool ldpcChecksHoldSse41(const LdpcLanePlan& plan) { return lanesChecksHold<Sse41>(plan); }
void ldpcUpdatePassSse41(const LdpcLanePlan& plan) { lanesUpdatePass<Sse41>(plan); }

LdpcDecoder::Isa LdpcDecoder::bestIsa()
{
    static const Isa best = __builtin_cpu_supports("avx2") ? Isa::Avx2 : Isa::Sse41;
    return best;
}

int LdpcDecoder::decodeFast(const int8_t* soft, uint8_t* out, Isa isa)
{
    if (!built)
        return -1;
    if (isa == Isa::Avx2 && bestIsa() != Isa::Avx2)
        isa = Isa::Sse41;
    LdpcLanePlan plan;
    plan.q = q;
    plan.W = W;
    plan.infoCount = checkInfoCount;
    plan.width = classWidth[int(isa)];
    plan.classOffset = classOffset;
    plan.slotBase = slotBase[int(isa)];
    plan.checkBits = checkBits;
    plan.bits = bitValues;
    plan.parity = parity;
    plan.messages = fastMessages;
    plan.rule = settings.rule;
    bool (*checksHold)(const LdpcLanePlan&) = isa == Isa::Avx2 ? ldpcChecksHoldAvx2 : ldpcChecksHoldSse41;
    void (*updatePass)(const LdpcLanePlan&) = isa == Isa::Avx2 ? ldpcUpdatePassAvx2 : ldpcUpdatePassSse41;

    loadBits(soft);
    std::memset(fastMessages, 0, fastMessageBytes);
    int budget = settings.passes;
    while (!checksHold(plan)) {
        if (--budget < 0)
            break;
        updatePass(plan);
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
