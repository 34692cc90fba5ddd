#include "tx/BbScrambler.h"

namespace tx {

namespace {
constexpr int kMaxFrameBytes = 58192 / 8; // largest K_bch
}

BbScrambler::BbScrambler()
    : prbs(kMaxFrameBytes)
{
    // Register bits 1 … 15 of the standard's figure; bit k of `reg` is cell k+1.
    uint32_t reg = 0;
    const char* init = "100101010000000";
    for (int k = 0; k < 15; ++k)
        reg |= uint32_t(init[k] - '0') << k;
    for (uint8_t& byte : prbs) {
        byte = 0;
        for (int b = 0; b < 8; ++b) {
            const uint32_t out = ((reg >> 13) ^ (reg >> 14)) & 1; // cells 14 and 15
            reg = ((reg << 1) | out) & 0x7FFF;
            byte = uint8_t(byte << 1 | out);
        }
    }
}

void BbScrambler::apply(uint8_t* frame, int bytes) const
{
    for (int i = 0; i < bytes; ++i)
        frame[i] ^= prbs[size_t(i)];
}

} // namespace tx
