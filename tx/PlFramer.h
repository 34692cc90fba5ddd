// Physical-layer framing of DVB-S2, EN 302 307-1 §5.5: PLHEADER (SOF and the
// Reed–Muller coded, scrambled PLS code, π/2-BPSK), pilot blocks, dummy
// PLFRAMEs and PL scrambling.
#pragma once

#include "tx/Constellations.h"

#include <cstdint>
#include <vector>

namespace tx {

constexpr uint32_t kSof = 0x18D2E82;                     // 26 bits, first symbol = bit 25
constexpr uint64_t kPlsScrambling = 0x719D83C953422DFAull; // 64 bits, first symbol = bit 63
constexpr int kPlHeaderSymbols = 90;
constexpr int kSlotSymbols = 90;
constexpr int kPilotBlockSymbols = 36;

// PLS code byte: MODCOD · 4 + 2 · short frame + pilots.
inline int plsCode(int modcod, bool shortFrame, bool pilots)
{
    return modcod << 2 | (shortFrame ? 2 : 0) | (pilots ? 1 : 0);
}

// The 64-bit PLS codeword before scrambling (§5.5.2.4): the first six bits
// through the (32, 6) code, each code bit followed by itself XOR the pilot bit.
// First transmitted bit = bit 63.
uint64_t plsCodeword(int pls);

// R_n(i) of §5.5.4 for scrambling code n, i = 0 … count − 1.
std::vector<uint8_t> plScramblingSequence(int code, int count);

class PlFramer {
public:
    explicit PlFramer(int scramblingCode = 0);

    // One PLFRAME from the data symbols of one XFECFRAME (90 · slots symbols).
    void frame(int modcod, bool shortFrame, bool pilots, const cf32* data, int dataSymbols,
               std::vector<cf32>& out) const;

    // A dummy PLFRAME: MODCOD 0, 36 slots of unmodulated carrier (1 + j)/√2.
    void dummyFrame(std::vector<cf32>& out) const;

    // The 90 PLHEADER symbols of a PLS code.
    void header(int pls, cf32* out) const;

private:
    std::vector<uint8_t> scrambling; // R(i) for the longest PLFRAME body
};

} // namespace tx
