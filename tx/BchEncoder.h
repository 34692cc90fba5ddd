// Outer BCH encoding of DVB-S2, EN 302 307-1 §5.3.1: systematic, generator
// g(x) = g_1(x) · … · g_t(x) of the frame size's factor list.
#pragma once

#include "fec/BchGenerator.h"

#include <array>
#include <cstdint>
#include <vector>

namespace tx {

class BchEncoder {
public:
    // codeIndex: 0 … 10 normal codes (B.1 … B.11), 11 … 20 short (C.1 … C.10).
    explicit BchEncoder(int codeIndex);

    int kbch() const { return k; }
    int nbch() const { return n; }

    // The generator as a bit vector, bit i = coefficient of x^i (degree n − k).
    const std::vector<uint8_t>& generator() const { return gen; }

    // Message of K_bch bits in `in` (packed MSB first, first bit = highest power)
    // → codeword of N_bch bits in `out` (message, then parity). in may equal out.
    void encode(const uint8_t* in, uint8_t* out) const;

private:
    using Reg = BchRegister;

    int n;
    int k;
    int degree;
    std::vector<uint8_t> gen;
    std::array<Reg, 256> table{};
};

} // namespace tx
