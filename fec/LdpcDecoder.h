// Layered offset min-sum decoding of the DVB-S2 LDPC codes (EN 302 307-1
// §5.3.2) on saturating signed 8-bit values, with BB descrambling of the
// decided codeword (§5.2.2).
#pragma once

#include "fec/LdpcCode.h"
#include "fec/LdpcLaneKernel.h"

#include <cstddef>
#include <cstdint>

// The Tanner graph of one code and the per-frame working memory, laid out in a
// caller-supplied memory block (the worker's arena). Check nodes are kept in
// processing order: position p = 360·i + j stands for check node c = q·j + i.
//
// How the decoder treats its input and its messages. The standard profile
// takes the demodulator's soft values divided by 4 (toward zero), offset 1,
// messages limited to −32 … 31 and 32 passes; the scaled profile takes channel
// log-likelihood ratios (fec/ChannelLlr.h) as they are.
struct LdpcDecoderProfile {
    LdpcMinSumRule rule;
    bool quarterInput = true;
    int passes = 32;   // 1 … LdpcDecoder::kMaxPasses
};

// Two decoders run on the same structure and give the same bytes and result:
// decodeReference() processes one check node after another, decodeFast()
// updates up to 16 (SSE4.1) or 32 (AVX2) nodes of one residue class at once
// wherever no two of them share a bit, and narrower groups where they do.
class LdpcDecoder {
public:
    enum class Isa { Sse41 = 0, Avx2 = 1 };
    // AVX2 when the processor has it, SSE4.1 otherwise.
    static Isa bestIsa();

    static constexpr int kPasses = 32;          // update passes of the standard profile
    static constexpr int kMaxPasses = 100;
    static LdpcDecoderProfile standardProfile() { return LdpcDecoderProfile(); }
    static LdpcDecoderProfile scaledProfile();
    // The scaled profile as it suits code `codeIndex` (as createLdpcCode numbers them).
    static LdpcDecoderProfile scaledProfile(int codeIndex);
    static constexpr size_t kArenaBytes = 8u << 20;

    // Builds the structure of `code` into `arena` (64-byte aligned, `bytes`
    // long). Returns false, leaving no code, when the block is too small.
    bool build(const LDPCInterface& code, uint8_t* arena, size_t bytes);
    void clear() { built = false; }
    bool ready() const { return built; }

    // Applies to the frames decoded after it; passes are limited to 1 … kMaxPasses.
    void setProfile(const LdpcDecoderProfile& p);
    const LdpcDecoderProfile& profile() const { return settings; }

    int codewordBits() const { return N; }
    int infoBits() const { return K; }

    // Decodes the N soft values at `soft` (positive = bit 0) and writes N/8
    // descrambled bytes to `out`, which may be `soft` itself. Returns the
    // update passes left (0 … the profile's passes) when every check holds, −1 otherwise; the
    // decisions are written either way.
    int decodeReference(const int8_t* soft, uint8_t* out);
    int decodeFast(const int8_t* soft, uint8_t* out) { return decodeFast(soft, out, bestIsa()); }
    // With a chosen instruction set (AVX2 only where bestIsa() offers it).
    int decodeFast(const int8_t* soft, uint8_t* out, Isa isa);
    // After a decode, the parity checks its decisions leave unsatisfied (a
    // value of zero, undecided, counts as unsatisfying its checks).
    int failingChecks() const;

    // The structure, for inspection.
    int residues() const { return q; }
    int checkWidth() const { return W; }
    int infoEdges(int residue) const { return checkInfoCount[residue]; }
    const uint16_t* bitsOfCheck(int position) const { return checkBits + size_t(position) * size_t(W); }
    // Nodes of one residue class updated together by decodeFast (32 … 1).
    int laneGroup(int residue, Isa isa) const { return classWidth[int(isa)][residue]; }

private:
    void loadBits(const int8_t* soft);
    void writeOutput(uint8_t* out);
    bool checksHoldReference() const;
    bool checkHolds(int position) const;
    void updatePassReference();

    LdpcDecoderProfile settings;
    bool built = false;
    int N = 0, K = 0, R = 0, q = 0, W = 0, L = 0;
    uint8_t* checkInfoCount = nullptr;    // q
    uint16_t* checkBits = nullptr;        // R·W, processing order
    int8_t* messages = nullptr;           // L, reference order
    int8_t* parity = nullptr;             // R + 16, twisted
    int8_t* bitValues = nullptr;          // N + 16
    // decodeFast, per instruction set: per class i its lane group; per group
    // start position p and slot k the first bit when the group's bits are
    // consecutive, −1 when they are gathered one by one. Shared: the start of
    // each class's messages (slot k of node j at classOffset[i] + 360·k + j).
    uint8_t* classWidth[2] = {};          // q each
    int32_t* slotBase[2] = {};            // R·W each
    int32_t* classOffset = nullptr;       // q
    int8_t* fastMessages = nullptr;
    size_t fastMessageBytes = 0;
};
