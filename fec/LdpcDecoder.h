// Layered offset min-sum decoding of the DVB-S2 LDPC codes (EN 302 307-1
// §5.3.2) on saturating signed 8-bit values, with BB descrambling of the
// decided codeword (§5.2.2).
#pragma once

#include "fec/LdpcCode.h"

#include <cstddef>
#include <cstdint>

// The Tanner graph of one code and the per-frame working memory, laid out in a
// caller-supplied memory block (the worker's arena). Check nodes are kept in
// processing order: position p = 360·i + j stands for check node c = q·j + i.
//
// Two decoders run on the same structure and give the same bytes and result:
// decodeReference() processes one check node after another, decodeFast()
// updates up to 16 nodes of one residue class at once wherever no two of them
// share a bit, and falls back to narrower groups where they do.
class LdpcDecoder {
public:
    static constexpr int kPasses = 32;          // update passes allowed per frame
    static constexpr size_t kArenaBytes = 8u << 20;

    // Builds the structure of `code` into `arena` (64-byte aligned, `bytes`
    // long). Returns false, leaving no code, when the block is too small.
    bool build(const LDPCInterface& code, uint8_t* arena, size_t bytes);
    void clear() { built = false; }
    bool ready() const { return built; }

    int codewordBits() const { return N; }
    int infoBits() const { return K; }

    // Decodes the N soft values at `soft` (positive = bit 0) and writes N/8
    // descrambled bytes to `out`, which may be `soft` itself. Returns the
    // update passes left (0 … 32) when every check holds, −1 otherwise; the
    // decisions are written either way.
    int decodeReference(const int8_t* soft, uint8_t* out);
    int decodeFast(const int8_t* soft, uint8_t* out);

    // The structure, for inspection.
    int residues() const { return q; }
    int checkWidth() const { return W; }
    int infoEdges(int residue) const { return checkInfoCount[residue]; }
    const uint16_t* bitsOfCheck(int position) const { return checkBits + size_t(position) * size_t(W); }
    // Nodes of one residue class updated together by decodeFast (16, 8, 4, 2 or 1).
    int laneGroup(int residue) const { return classWidth[residue]; }

private:
    void loadBits(const int8_t* soft);
    void writeOutput(uint8_t* out);
    bool checksHoldReference() const;
    void updatePassReference();
    bool checksHoldFast() const;
    void updatePassFast();

    bool built = false;
    int N = 0, K = 0, R = 0, q = 0, W = 0, L = 0;
    uint8_t* checkInfoCount = nullptr;    // q
    uint16_t* checkBits = nullptr;        // R·W, processing order
    int8_t* messages = nullptr;           // L, reference order
    int8_t* parity = nullptr;             // R + 16, twisted
    int8_t* bitValues = nullptr;          // N + 16
    // decodeFast: per class i its lane group and the start of its messages
    // (slot k of node j at fastMessages[classOffset[i] + 360·k + j]); per
    // group start position p and slot k the first bit when the group's bits
    // are consecutive, −1 when they are gathered one by one.
    uint8_t* classWidth = nullptr;        // q
    int32_t* classOffset = nullptr;       // q
    int8_t* fastMessages = nullptr;
    int32_t* slotBase = nullptr;          // R·W
};
