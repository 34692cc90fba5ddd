#include "tx/BchEncoder.h"

#include "fec/Dvbs2BchCodes.h"

#include <cstring>

namespace tx {

std::vector<uint8_t> BchEncoder::multiply(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    std::vector<uint8_t> r(a.size() + b.size() - 1, 0);
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i])
            for (size_t j = 0; j < b.size(); ++j)
                r[i + j] ^= b[j];
    return r;
}

BchEncoder::BchEncoder(int codeIndex)
{
    const Dvbs2BchCode& code = kDvbs2BchCodes[codeIndex];
    n = code.nbch;
    k = code.kbch;
    degree = n - k;
    const bool normal = code.nldpc == 64800;
    const uint32_t* factors = normal ? kDvbs2BchFactorsNormal : kDvbs2BchFactorsShort;
    const int factorDegree = normal ? 16 : 14;
    gen = {1};
    for (int f = 0; f < code.t; ++f) {
        std::vector<uint8_t> g(size_t(factorDegree + 1));
        for (int i = 0; i <= factorDegree; ++i)
            g[size_t(i)] = uint8_t(factors[f] >> i & 1);
        gen = multiply(gen, g);
    }

    // g(x) without its x^degree term, left-aligned: coefficient of x^(degree-1) at bit 191.
    Reg low{};
    for (int i = 0; i < degree; ++i) {
        if (!gen[size_t(i)])
            continue;
        const int pos = 191 - (degree - 1 - i);
        low[size_t(2 - pos / 64)] |= uint64_t(1) << (pos % 64);
    }
    // table[b] = b(x) · x^degree mod g(x), b of degree < 8, by the bitwise division.
    for (int b = 0; b < 256; ++b) {
        Reg r{};
        for (int bit = 7; bit >= 0; --bit) {
            const bool feedback = ((b >> bit) & 1) ^ (r[0] >> 63);
            r[0] = r[0] << 1 | r[1] >> 63;
            r[1] = r[1] << 1 | r[2] >> 63;
            r[2] <<= 1;
            if (feedback)
                for (int w = 0; w < 3; ++w)
                    r[size_t(w)] ^= low[size_t(w)];
        }
        table[size_t(b)] = r;
    }
}

void BchEncoder::encode(const uint8_t* in, uint8_t* out) const
{
    Reg r{};
    const int bytes = k / 8;
    for (int i = 0; i < bytes; ++i) {
        const Reg& t = table[(r[0] >> 56) ^ in[i]];
        r[0] = (r[0] << 8 | r[1] >> 56) ^ t[0];
        r[1] = (r[1] << 8 | r[2] >> 56) ^ t[1];
        r[2] = (r[2] << 8) ^ t[2];
    }
    if (out != in)
        std::memcpy(out, in, size_t(bytes));
    for (int i = 0; i < degree / 8; ++i)
        out[bytes + i] = uint8_t(r[size_t(i / 8)] >> (56 - 8 * (i % 8)));
}

} // namespace tx
