// DVB-S2 physical-layer signalling (EN 302 307-1 §5.5): MODCODs, frame
// lengths, start-of-frame and PLS code, PL scrambling sequence.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct ModcodRow {
    const char* name;           // "QPSK 1/2" …
    int constellationIndex;     // 0 none, 2 QPSK, 3 8PSK, 4 16APSK, 5 32APSK
    double qefEsN0Db;           // quasi-error-free Es/N0 of normal frames; NaN: no code
};

// Rows 0 … 31: "DUMMY FRAME", 28 MODCODs, "RESERVED (29)" … "RESERVED (31)".
const ModcodRow& s2ModcodRow(int modcod);

// Slots of 90 symbols per frame, by constellation index (0 dummy … 5 32APSK).
int slotsPerFrame(int constellationIndex, bool shortFrame);

// Symbols of a PLFRAME with this PLS code, header included (dummy frames
// 3330); 0 for the reserved MODCODs.
int plFrameSymbols(uint8_t pls);

// Every PLFRAME length in symbols, with and without pilots, ascending. A
// pilot block is inserted after every 16 slots except after the last slot,
// so 144-slot frames carry 8 blocks: 13050 + 288 = 13338.
constexpr std::array<int32_t, 16> kFrameLengths = {3330, 3402, 4140, 4212, 5490, 5598, 8190, 8370,
                                                   13050, 13338, 16290, 16686, 21690, 22194, 32490, 33282};

constexpr uint32_t kSofBits = 0x18D2E82;                     // 26 bits, first symbol bit 25
constexpr uint64_t kPlHeaderScrambling = 0x719D83C953422DFAull;   // 64 bits, first symbol bit 63
constexpr int kScramblingLength = 33192;                     // the longest frame after its header

// plsCode: bits 0–4 MODCOD, bit 5 short frame, bit 6 pilots.
inline int plsModcod(uint8_t pls) { return pls & 0x1F; }
inline bool plsShortFrame(uint8_t pls) { return (pls & 0x20) != 0; }
inline bool plsPilots(uint8_t pls) { return (pls & 0x40) != 0; }
// "normal" or "short", with " pilots" when they are on.
std::string plsFrameText(uint8_t pls);
// The MODCOD and frame: "QPSK 1/2 normal pilots".
std::string plsCodeText(uint8_t pls);

// Majority-logic decoding of the first-order Reed–Muller header code, after
// the scrambling constant has been removed: the register holds the 64 hard
// decisions, first symbol in bit 63.
uint8_t decodePlsHeader(uint64_t descrambled);
// The code word of a PLS code as decodePlsHeader reads it (before scrambling).
uint64_t encodePlsHeader(uint8_t pls);
// How many of the 64 decisions differ from the code word they decode to.
inline int plsHeaderErrors(uint64_t descrambled)
{
    return __builtin_popcountll(encodePlsHeader(decodePlsHeader(descrambled)) ^ descrambled);
}

// R(n) ∈ {0, 1, 2, 3} of the PL scrambler with scrambling code 0.
const std::array<uint8_t, kScramblingLength>& plScramblingCode0();
