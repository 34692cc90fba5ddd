// DVB-S outer decoder, EN 300 421 §4.4.2: RS(204, 188, t = 8), shortened
// from RS(255, 239) over GF(256) (x^8 + x^4 + x^3 + x^2 + 1), generator
// roots α^0 … α^15. Byte k of a packet is the coefficient of x^(203 − k).
#pragma once

#include <cstdint>

class ReedSolomonDecoder {
public:
    static constexpr int kLength = 204;
    static constexpr int kData = 188;
    static constexpr int kParity = 16;

    struct Result {
        bool corrected = true;   // false: more errors than the code corrects
        int byteErrors = 0;      // positions changed, parity included
    };

    // Corrects `word` (204 bytes) in place when it can; an uncorrectable word
    // is left exactly as received.
    Result decode(uint8_t* word) const;
};

// The syndromes S_j = r(α^j), j = 0 … 15, of a received word: by Horner's
// rule one at a time (the plain reference), and all sixteen at once, one
// per byte lane (SSE4.1), the same to the bit.
void rsSyndromes_ref(const uint8_t* word, uint8_t* syndromes);
void rsSyndromes_sse41(const uint8_t* word, uint8_t* syndromes);
