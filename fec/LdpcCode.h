// DVB-S2 LDPC code descriptions: the parity-accumulator addresses of
// EN 302 307-1 §5.3.2 walked information bit by information bit.
#pragma once

#include "fec/Dvbs2LdpcTables.h"

#include <cstdint>

// One LDPC code as the decoder sees it: its sizes and a walk over the
// information bits that yields, for bit i, the parity-check nodes it joins.
// Call order: rewind(), then for i = 0 … K − 1 read currentDegree() and
// currentAddresses(), then advance().
class LDPCInterface {
public:
    // A fresh object of the same code, not positioned: rewind it before use.
    virtual LDPCInterface* clone() const = 0;
    virtual int codewordBits() const = 0;   // N
    virtual int infoBits() const = 0;       // K
    virtual int circulantSize() const = 0;  // 360
    virtual int edgeCount() const = 0;      // Tanner-graph edges
    virtual int maxCheckDegree() const = 0; // accumulator edges included
    virtual int currentDegree() const = 0;
    virtual const int32_t* currentAddresses() const = 0;
    virtual void rewind() = 0;
    virtual void advance() = 0;
    virtual ~LDPCInterface() = default;
};

template <typename T>
class LDPC final : public LDPCInterface {
public:
    static constexpr int largestRowLength()
    {
        int largest = 0;
        for (int32_t degree : T::groupDegrees)
            largest = degree > largest ? degree : largest;
        return largest;
    }

    static_assert(T::M == 360, "circulant size");
    static_assert(T::q * 360 == T::N - T::K, "q = (N - K) / 360");
    static_assert(T::N == 64800 || T::N == 16200, "frame size");

    LDPCInterface* clone() const override { return new LDPC<T>(); }
    int codewordBits() const override { return T::N; }
    int infoBits() const override { return T::K; }
    int circulantSize() const override { return T::M; }
    int edgeCount() const override { return T::links; }
    int maxCheckDegree() const override { return T::maxCheckDegree; }
    int currentDegree() const override { return degree; }
    const int32_t* currentAddresses() const override { return addresses; }

    void rewind() override
    {
        degree = T::groupDegrees[0];
        groupLength = T::groupRowCounts[0];
        groupCounter = 1;
        groupIndex = 1;
        for (int k = 0; k < degree; ++k)
            addresses[k] = T::addressRows[k];
        rowCursor = T::addressRows + degree;
        bitInRow = 0;
    }

    void advance() override
    {
        constexpr int32_t parityBits = T::N - T::K;
        if (++bitInRow < T::M) {
            for (int k = 0; k < degree; ++k) {
                addresses[k] += T::q; // (x + m·q) mod (N − K), one step at a time
                if (addresses[k] >= parityBits)
                    addresses[k] -= parityBits;
            }
            return;
        }
        // The step past the last information bit reads nothing beyond the tables.
        if (rowCursor == T::addressRows + T::addressCount) {
            degree = 0;
            bitInRow = 0;
            return;
        }
        if (groupCounter < groupLength) {
            ++groupCounter;
        } else {
            groupCounter = 1;
            groupLength = T::groupRowCounts[groupIndex];
            degree = T::groupDegrees[groupIndex];
            ++groupIndex;
        }
        for (int k = 0; k < degree; ++k)
            addresses[k] = rowCursor[k];
        rowCursor += degree;
        bitInRow = 0;
    }

private:
    int32_t addresses[largestRowLength()] = {};
    const int32_t* rowCursor = nullptr;
    int32_t degree = 0;
    int32_t groupIndex = 0;
    int32_t groupLength = 0;
    int32_t groupCounter = 0;
    int32_t bitInRow = 0;
};

// Code index for a frame tag (bits 0–4 MODCOD, bit 5 short frame): 0 … 10 for
// tables B.1 … B.11, 11 … 20 for C.1 … C.10, −1 for dummy and reserved
// MODCODs and for 9/10 in a short frame (EN 302 307-1 Table 5).
int codeIndexForFrame(uint8_t tag);

// A new code object for index 0 … 20 (owned by the caller), null otherwise.
LDPCInterface* createLdpcCode(int codeIndex);

constexpr int kLdpcCodeCount = 21;
