#include "tx/BchEncoder.h"

#include "fec/BchGenerator.h"
#include "fec/Dvbs2BchCodes.h"

#include <cstring>

namespace tx {

BchEncoder::BchEncoder(int codeIndex)
{
    const Dvbs2BchCode& code = kDvbs2BchCodes[codeIndex];
    n = code.nbch;
    k = code.kbch;
    degree = n - k;
    gen = bchGenerator(codeIndex);
    table = bchRemainderTable(gen);
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
