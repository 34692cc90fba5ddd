#include "tx/ReedSolomon.h"

#include <cstring>

namespace tx {

ReedSolomon::ReedSolomon()
{
    int x = 1;
    for (int i = 0; i < 255; ++i) {
        expTable[size_t(i)] = uint8_t(x);
        logTable[size_t(x)] = i;
        x <<= 1;
        if (x & 0x100)
            x ^= 0x11D;
    }
    for (int i = 255; i < 512; ++i)
        expTable[size_t(i)] = expTable[size_t(i - 255)];
    generator.fill(0);
    generator[0] = 1;
    for (int i = 0; i < 16; ++i) {
        // g(x) ← g(x) · (x + α^i)
        for (int j = i + 1; j > 0; --j)
            generator[size_t(j)] = generator[size_t(j - 1)] ^ mul(generator[size_t(j)], alphaPower(i));
        generator[0] = mul(generator[0], alphaPower(i));
    }
}

uint8_t ReedSolomon::mul(uint8_t a, uint8_t b) const
{
    if (a == 0 || b == 0)
        return 0;
    return expTable[size_t(logTable[a] + logTable[b])];
}

void ReedSolomon::encode(const uint8_t* in, uint8_t* out) const
{
    // The 51 leading zero bytes of the shortened code do not change the remainder.
    std::array<uint8_t, 16> r{}; // r[15] is the coefficient of x^15
    for (int i = 0; i < 188; ++i) {
        const uint8_t feedback = in[i] ^ r[15];
        for (int j = 15; j > 0; --j)
            r[size_t(j)] = r[size_t(j - 1)] ^ mul(feedback, generator[size_t(j)]);
        r[0] = mul(feedback, generator[0]);
    }
    if (out != in)
        std::memcpy(out, in, 188);
    for (int j = 0; j < 16; ++j)
        out[188 + j] = r[size_t(15 - j)];
}

std::array<uint8_t, 16> ReedSolomon::syndromes(const uint8_t* codeword) const
{
    std::array<uint8_t, 16> s{};
    for (int i = 0; i < 16; ++i) {
        uint8_t acc = 0;
        for (int k = 0; k < 204; ++k)
            acc = mul(acc, alphaPower(i)) ^ codeword[k]; // Horner, first byte = highest power
        s[size_t(i)] = acc;
    }
    return s;
}

} // namespace tx
