// DVB-S outer code, EN 300 421 §4.4.2: RS(204, 188, t = 8), shortened from
// RS(255, 239) over GF(256) with p(x) = x^8 + x^4 + x^3 + x^2 + 1 and
// g(x) = (x + α^0)(x + α^1) … (x + α^15).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tx {

class ReedSolomon {
public:
    ReedSolomon();

    // 188 message bytes → 204-byte codeword (message, then 16 parity bytes).
    void encode(const uint8_t* in, uint8_t* out) const;

    // Syndrome S_i = c(α^i), i = 0 … 15, of a 204-byte codeword.
    std::array<uint8_t, 16> syndromes(const uint8_t* codeword) const;

    uint8_t mul(uint8_t a, uint8_t b) const;
    uint8_t alphaPower(int i) const { return expTable[size_t(i % 255)]; }

private:
    std::array<uint8_t, 512> expTable{};
    std::array<int, 256> logTable{};
    std::array<uint8_t, 17> generator{}; // g_0 … g_16, g_16 = 1
};

} // namespace tx
