// The lane-group passes of the LDPC decoder, written once over a vector type
// (16 lanes SSE4.1, 32 lanes AVX2). Each translation unit that includes this
// gets its own internal copy, compiled for its own instruction set; nothing
// here may call out-of-line library code, so no instruction-set-specific
// instance can leak into another unit.
#pragma once

#include <cstdint>

// How a check node forms its outgoing magnitudes from the smallest and second
// smallest incoming ones, and the range its messages are kept in.
struct LdpcMinSumRule {
    int8_t offset = 1;         // subtracted after the scaling, not below 0
    int8_t scaleShift = 0;     // 1 … 7: magnitudes scaled by 1 − 2^−shift (rounded up); 0: unscaled
    int8_t messageLow = -32;   // stored messages are limited to messageLow … messageHigh
    int8_t messageHigh = 31;
};

// Applies the rule's scaling and offset to one magnitude (0 … 127).
inline int minSumMagnitude(const LdpcMinSumRule& rule, int m)
{
    if (rule.scaleShift > 0)
        m -= m >> rule.scaleShift;
    return m > rule.offset ? m - rule.offset : 0;
}

// The decoder's structure as the passes see it.
struct LdpcLanePlan {
    int q = 0;
    int W = 0;
    const uint8_t* infoCount = nullptr;   // q
    const uint8_t* width = nullptr;       // q: lane group of each class
    const int32_t* classOffset = nullptr; // q
    const int32_t* slotBase = nullptr;    // R·W: first bit of a consecutive group, or −1
    const uint16_t* checkBits = nullptr;  // R·W
    int8_t* bits = nullptr;               // N (+ padding)
    int8_t* parity = nullptr;             // R (+ padding)
    int8_t* messages = nullptr;           // slot k of node j at classOffset[i] + 360·k + j
    LdpcMinSumRule rule;
};

namespace {

constexpr int kLaneClassSize = 360;

template <typename V>
inline void storeSomeLanes(int8_t* dst, typename V::T x, int lanes)
{
    if (lanes == V::kLanes) {
        V::store(dst, x);
    } else if (lanes == 8) {
        V::storeLow8(dst, x);
    } else {
        alignas(32) int8_t t[V::kLanes];
        V::store(t, x);
        for (int l = 0; l < lanes; ++l)
            dst[l] = t[l];
    }
}

template <typename V>
inline typename V::T loadBitsOfSlot(const LdpcLanePlan& plan, int p0, int k, int lanes, int8_t* gathered)
{
    const int32_t base = plan.slotBase[p0 * plan.W + k];
    if (base >= 0)
        return V::load(plan.bits + base);
    for (int l = 0; l < V::kLanes; ++l)
        gathered[l] = l < lanes ? plan.bits[plan.checkBits[(p0 + l) * plan.W + k]] : int8_t(0);
    return V::load(gathered);
}

// True when every check holds: no zero among a node's values and an even
// number of negative ones.
template <typename V>
bool lanesChecksHold(const LdpcLanePlan& shared)
{
    const LdpcLanePlan plan = shared; // a local copy: byte stores cannot alias it
    using T = typename V::T;
    const T zero = V::set1(0);
    const T one = V::set1(1);
    const T laneZero = V::laneZero();
    alignas(32) int8_t gathered[V::kLanes];
    for (int i = 0; i < plan.q; ++i) {
        const int count = plan.infoCount[i];
        const int width = plan.width[i];
        for (int j0 = 0; j0 < kLaneClassSize; j0 += width) {
            const int lanes = width < kLaneClassSize - j0 ? width : kLaneClassSize - j0;
            const int p0 = kLaneClassSize * i + j0;
            T x = V::load(plan.parity + p0);
            T signs = x;
            T zeros = V::cmpeq(x, zero);
            T pred = V::load(plan.parity + (i > 0 ? p0 - kLaneClassSize : kLaneClassSize * (plan.q - 1) + j0 - 1));
            if (p0 == 0)
                pred = V::blendv(pred, one, laneZero); // node 0 has no predecessor
            signs = V::bxor(signs, pred);
            zeros = V::bor(zeros, V::cmpeq(pred, zero));
            for (int k = 0; k < count; ++k) {
                x = loadBitsOfSlot<V>(plan, p0, k, lanes, gathered);
                signs = V::bxor(signs, x);
                zeros = V::bor(zeros, V::cmpeq(x, zero));
            }
            const uint32_t mask = lanes >= 32 ? 0xffffffffu : (1u << lanes) - 1u;
            if (V::movemask(V::bor(signs, zeros)) & mask)
                return false;
        }
    }
    return true;
}

// One layered update pass: the groups of a class in order, the classes in order.
template <typename V>
void lanesUpdatePass(const LdpcLanePlan& shared)
{
    const LdpcLanePlan plan = shared; // a local copy: byte stores cannot alias it
    using T = typename V::T;
    const T minus127 = V::set1(-127);
    const T one = V::set1(1);
    const T offset = V::set1(plan.rule.offset);
    const int shift = plan.rule.scaleShift;
    const T shiftMask = V::set1(int8_t(shift > 0 ? 0xff >> shift : 0));
    const T lowClamp = V::set1(plan.rule.messageLow);
    const T highClamp = V::set1(plan.rule.messageHigh);
    const T neutral = V::set1(127);
    const T laneZero = V::laneZero();

    T in[32];
    T m[32];
    alignas(32) int8_t gathered[32][V::kLanes];
    for (int i = 0; i < plan.q; ++i) {
        const int count = plan.infoCount[i];
        const int d = count + 2;
        const int width = plan.width[i];
        int8_t* classMessages = plan.messages + plan.classOffset[i];
        for (int j0 = 0; j0 < kLaneClassSize; j0 += width) {
            const int lanes = width < kLaneClassSize - j0 ? width : kLaneClassSize - j0;
            const int p0 = kLaneClassSize * i + j0;
            const int32_t* bases = plan.slotBase + p0 * plan.W;
            int8_t* stored = classMessages + j0; // slot k at stored + 360·k

            for (int k = 0; k < count; ++k)
                in[k] = V::subs(loadBitsOfSlot<V>(plan, p0, k, lanes, gathered[k]), V::load(stored + kLaneClassSize * k));
            int8_t* own = plan.parity + p0;
            int8_t* pred = plan.parity + (i > 0 ? p0 - kLaneClassSize : kLaneClassSize * (plan.q - 1) + j0 - 1);
            const T predBefore = V::load(pred);
            in[count] = V::subs(V::load(own), V::load(stored + kLaneClassSize * count));
            in[count + 1] = V::subs(predBefore, V::load(stored + kLaneClassSize * (count + 1)));
            if (p0 == 0) // node 0 has no predecessor: the largest magnitude changes nothing
                in[count + 1] = V::blendv(in[count + 1], neutral, laneZero);

            // Smallest and second smallest of m = |max(in, −127)|; the rule's
            // scaling and offset are monotone, so they apply to those two alone.
            T signs = V::set1(0);
            for (int k = 0; k < d; ++k) {
                m[k] = V::abs(V::maxs(in[k], minus127));
                signs = V::bxor(signs, in[k]);
            }
            T smallest = V::minu(m[0], m[1]);
            T second = V::maxu(m[0], m[1]);
            for (int k = 2; k < d; ++k) {
                second = V::minu(second, V::maxu(smallest, m[k]));
                smallest = V::minu(smallest, m[k]);
            }
            T smallestOut = smallest;
            T secondOut = second;
            if (shift > 0) {
                smallestOut = V::sub(smallestOut, V::band(V::srli16(smallestOut, shift), shiftMask));
                secondOut = V::sub(secondOut, V::band(V::srli16(secondOut, shift), shiftMask));
            }
            smallestOut = V::subsu(smallestOut, offset);
            secondOut = V::subsu(secondOut, offset);
            for (int k = 0; k < d; ++k) {
                const T magnitude = V::blendv(smallestOut, secondOut, V::cmpeq(m[k], smallest));
                // Sign from bit 7 of S ⊕ in[k]; the OR with 1 keeps sign() off its zero case.
                const T out = V::sign(magnitude, V::bor(V::bxor(signs, in[k]), one));
                const T updated = V::adds(in[k], out);
                storeSomeLanes<V>(stored + kLaneClassSize * k, V::mins(V::maxs(out, lowClamp), highClamp), lanes);
                if (k < count) {
                    if (bases[k] >= 0) {
                        storeSomeLanes<V>(plan.bits + bases[k], updated, lanes);
                    } else {
                        V::store(gathered[k], updated);
                        for (int l = 0; l < lanes; ++l)
                            plan.bits[plan.checkBits[(p0 + l) * plan.W + k]] = gathered[k][l];
                    }
                } else if (k == count) {
                    storeSomeLanes<V>(own, updated, lanes);
                } else {
                    storeSomeLanes<V>(pred, p0 == 0 ? V::blendv(updated, predBefore, laneZero) : updated, lanes);
                }
            }
        }
    }
}

} // namespace

// Entry points per instruction set.
bool ldpcChecksHoldSse41(const LdpcLanePlan& plan);
void ldpcUpdatePassSse41(const LdpcLanePlan& plan);
bool ldpcChecksHoldAvx2(const LdpcLanePlan& plan);
void ldpcUpdatePassAvx2(const LdpcLanePlan& plan);
