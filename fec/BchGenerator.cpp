#include "fec/BchGenerator.h"

#include "fec/Dvbs2BchCodes.h"

std::vector<uint8_t> multiplyBinaryPolynomials(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    std::vector<uint8_t> r(a.size() + b.size() - 1, 0);
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i])
            for (size_t j = 0; j < b.size(); ++j)
                r[i + j] ^= b[j];
    return r;
}

std::vector<uint8_t> bchGenerator(int codeIndex)
{
    const Dvbs2BchCode& code = kDvbs2BchCodes[codeIndex];
    const bool normal = code.nldpc == 64800;
    const uint32_t* factors = normal ? kDvbs2BchFactorsNormal : kDvbs2BchFactorsShort;
    const int factorDegree = normal ? 16 : 14;
    std::vector<uint8_t> generator{1};
    for (int f = 0; f < code.t; ++f) {
        std::vector<uint8_t> g(size_t(factorDegree + 1));
        for (int i = 0; i <= factorDegree; ++i)
            g[size_t(i)] = uint8_t(factors[f] >> i & 1);
        generator = multiplyBinaryPolynomials(generator, g);
    }
    return generator;
}

std::array<BchRegister, 256> bchRemainderTable(const std::vector<uint8_t>& generator)
{
    const int degree = int(generator.size()) - 1;
    // g(x) without x^degree, left-aligned: coefficient of x^(degree−1) at bit 191.
    BchRegister low{};
    for (int i = 0; i < degree; ++i) {
        if (!generator[size_t(i)])
            continue;
        const int pos = 191 - (degree - 1 - i);
        low[size_t(2 - pos / 64)] |= uint64_t(1) << (pos % 64);
    }
    // Bit by bit, as a shift register dividing by g(x).
    std::array<BchRegister, 256> table{};
    for (int b = 0; b < 256; ++b) {
        BchRegister r{};
        for (int bit = 7; bit >= 0; --bit) {
            const bool feedback = ((b >> bit) & 1) ^ (r[0] >> 63);
            r[0] = r[0] << 1 | r[1] >> 63;
            r[1] = r[1] << 1 | r[2] >> 63;
            r[2] <<= 1;
            if (feedback)
                for (size_t w = 0; w < 3; ++w)
                    r[w] ^= low[w];
        }
        table[size_t(b)] = r;
    }
    return table;
}
