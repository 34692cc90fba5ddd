// DVB-S2 MODCODs, FECFRAME sizes and the code parameters they select,
// EN 302 307-1 §5.3 (tables 5a/5b) and §5.5.2.2 (MODCOD field).
#pragma once

#include <string>

namespace tx {

enum class FrameSize { Normal, Short };

enum class Constellation { None, Qpsk, Psk8, Apsk16, Apsk32 };

struct ModcodInfo {
    int modcod;                  // 0 … 31
    const char* name;            // "QPSK 1/2", "DUMMY FRAME", "RESERVED (29)"
    Constellation constellation; // None for the dummy frame and reserved values
    int rateNum;
    int rateDen;
};

// Parameters of one FEC code: BCH (outer) then LDPC (inner).
struct FecParams {
    int codeIndex; // 0 … 10 normal (table B.1 … B.11), 11 … 20 short (C.1 … C.10)
    int nldpc;
    int nbch;      // = K_ldpc
    int kbch;
    int t;         // BCH errors corrected
};

const ModcodInfo& modcodInfo(int modcod);

// MODCOD number of a name such as "QPSK 1/2" (also "8psk 2/3", extra blanks
// allowed), or -1 when no MODCOD has that name.
int modcodFromName(const std::string& name);

int bitsPerSymbol(Constellation c);

// True and the parameters when the MODCOD carries data in this frame size;
// false for the dummy frame, the reserved values and the 9/10 short frames.
bool fecParams(int modcod, FrameSize frame, FecParams& out);

// The same check with a message naming the problem ("" when usable).
std::string dataModcodError(int modcod, FrameSize frame);

// Slots of 90 symbols in a PLFRAME (36 for the dummy frame).
int slotsPerFrame(int modcod, FrameSize frame);

// Pilot blocks: one after every 16 slots, never after the last slot.
int pilotBlocks(int slots, bool pilots);

// PLFRAME length in symbols: PLHEADER, slots and pilot blocks.
int plframeSymbols(int modcod, FrameSize frame, bool pilots);

} // namespace tx
