#include "fec/BchDecoder.h"

#include "fec/BchGenerator.h"
#include "fec/Dvbs2BchCodes.h"

#include <cstring>

namespace {

inline bool bitAt(const uint8_t* bytes, int i)
{
    return (bytes[i >> 3] >> (7 - (i & 7))) & 1;
}

} // namespace

const BchDecoder::Field& BchDecoder::field(int m, uint32_t primitive)
{
    const auto make = [](int bits, uint32_t poly) {
        Field f;
        f.m = bits;
        f.order = (1 << bits) - 1;
        f.exp.assign(size_t(2 * f.order + 1), 0);
        f.log.assign(size_t(f.order + 1), 0);
        uint32_t x = 1;
        for (int i = 0; i < f.order; ++i) {
            f.exp[size_t(i)] = uint16_t(x);
            f.log[x] = i;
            x <<= 1;
            if (x >> bits)
                x ^= poly;
        }
        for (int i = f.order; i <= 2 * f.order; ++i)
            f.exp[size_t(i)] = f.exp[size_t(i - f.order)];
        return f;
    };
    if (m == 16) {
        static const Field normal = make(16, primitive);
        return normal;
    }
    static const Field shortField = make(14, primitive);
    return shortField;
}

BchDecoder::BchDecoder(int codeIndex, const uint8_t* pattern)
{
    const Dvbs2BchCode& code = kDvbs2BchCodes[codeIndex];
    n = code.nbch;
    k = code.kbch;
    tErrors = code.t;
    degree = n - k;
    const bool normal = code.nldpc == 64800;
    m = normal ? 16 : 14;
    const uint32_t* factors = normal ? kDvbs2BchFactorsNormal : kDvbs2BchFactorsShort;
    gf = &field(m, factors[0]);
    table = bchRemainderTable(bchGenerator(codeIndex));
    if (pattern != nullptr) {
        offsetRemainder = remainder(pattern);
        offset.assign(pattern, pattern + n / 8);
    }
}

uint16_t BchDecoder::mul(uint16_t a, uint16_t b) const
{
    if (a == 0 || b == 0)
        return 0;
    return gf->exp[size_t(gf->log[a] + gf->log[b])];
}

uint16_t BchDecoder::power(int e) const
{
    return gf->exp[size_t(e % gf->order)];
}

// c(x) · x^degree mod g(x) of the frame as it stands (pattern included).
BchDecoder::Reg BchDecoder::remainder(const uint8_t* frame) const
{
    Reg r{};
    const int bytes = n / 8;
    for (int i = 0; i < bytes; ++i) {
        const Reg& t = table[size_t((r[0] >> 56) ^ frame[i])];
        r[0] = (r[0] << 8 | r[1] >> 56) ^ t[0];
        r[1] = (r[1] << 8 | r[2] >> 56) ^ t[1];
        r[2] = (r[2] << 8) ^ t[2];
    }
    return r;
}

// g(α^j) = 0 for j = 1 … 2t, so c(α^j) = R(α^j) · α^(−j·degree) for the
// remainder R = c · x^degree mod g. The odd ones are evaluated, the even
// ones are squares: S_2j = S_j².
void BchDecoder::syndromesOfRemainder(const Reg& r, uint16_t* s) const
{
    const int order = gf->order;
    for (int j = 1; j <= 2 * tErrors; j += 2) {
        uint16_t sum = 0;
        for (int pos = 191; pos > 191 - degree; --pos) {
            if (!((r[size_t(2 - pos / 64)] >> (pos % 64)) & 1))
                continue;
            const int p = degree - 1 - (191 - pos);   // the power of x
            sum ^= power(j * p);
        }
        const int shift = order - (j * degree) % order;
        s[j - 1] = mul(sum, power(shift));
    }
    for (int j = 2; j <= 2 * tErrors; j += 2)
        s[j - 1] = mul(s[j / 2 - 1], s[j / 2 - 1]);
}

bool BchDecoder::syndromes(const uint8_t* frame, uint16_t* s) const
{
    Reg r = remainder(frame);
    for (size_t w = 0; w < 3; ++w)
        r[w] ^= offsetRemainder[w];
    if ((r[0] | r[1] | r[2]) == 0) {
        std::memset(s, 0, sizeof(uint16_t) * size_t(2 * tErrors));
        return true;
    }
    syndromesOfRemainder(r, s);
    return false;
}

// Horner's rule over every bit: S_j = Σ c_i α^(j·i).
bool BchDecoder::syndromesReference(const uint8_t* frame, uint16_t* s) const
{
    bool zero = true;
    for (int j = 1; j <= 2 * tErrors; ++j) {
        const uint16_t a = power(j);
        uint16_t sum = 0;
        for (int i = 0; i < n; ++i) {
            const bool bit = bitAt(frame, i) ^ (offset.empty() ? false : bitAt(offset.data(), i));
            sum = uint16_t(mul(sum, a) ^ (bit ? 1 : 0));
        }
        s[j - 1] = sum;
        zero = zero && sum == 0;
    }
    return zero;
}

bool BchDecoder::locate(const uint16_t* s, int* positions, int& count, bool reference) const
{
    // Berlekamp–Massey: the shortest LFSR Λ(x) generating S_1 … S_2t.
    uint16_t c[2 * kMaxT + 1] = {1};
    uint16_t b[2 * kMaxT + 1] = {1};
    int length = 0;
    int shift = 1;
    uint16_t lastDiscrepancy = 1;
    const int order = gf->order;
    for (int step = 0; step < 2 * tErrors; ++step) {
        uint16_t d = s[step];
        for (int i = 1; i <= length; ++i)
            d ^= mul(c[i], s[step - i]);
        if (d == 0) {
            ++shift;
            continue;
        }
        const uint16_t scale = gf->exp[size_t(gf->log[d] - gf->log[lastDiscrepancy] + order)];
        uint16_t before[2 * kMaxT + 1];
        std::memcpy(before, c, sizeof c);
        for (int i = 0; i + shift <= 2 * tErrors; ++i)
            c[i + shift] ^= mul(scale, b[i]);
        if (2 * length <= step) {
            length = step + 1 - length;
            std::memcpy(b, before, sizeof b);
            lastDiscrepancy = d;
            shift = 1;
        } else {
            ++shift;
        }
    }
    if (length > tErrors)
        return false;
    for (int i = length + 1; i <= 2 * tErrors; ++i)
        if (c[i] != 0)
            return false;

    // Chien search: position i (power p = n − 1 − i) is in error when
    // Λ(α^−p) = 0. Only the N_bch positions of the shortened code count.
    count = 0;
    if (reference) {
        for (int p = 0; p < n && count < length; ++p) {
            const uint16_t x = power(order - p % order);
            uint16_t v = 0;
            for (int i = length; i >= 0; --i)
                v = uint16_t(mul(v, x) ^ c[i]);
            if (v == 0)
                positions[count++] = n - 1 - p;
        }
    } else {
        int logs[kMaxT + 1];
        int terms = 0;
        int degreeOf[kMaxT + 1];
        for (int i = 1; i <= length; ++i) {
            if (c[i] == 0)
                continue;
            logs[terms] = gf->log[c[i]];
            degreeOf[terms] = i;
            ++terms;
        }
        const uint16_t* exp = gf->exp.data();
        for (int p = 0; p < n && count < length; ++p) {
            uint16_t v = 1;
            for (int i = 0; i < terms; ++i) {
                v ^= exp[logs[i]];
                logs[i] -= degreeOf[i];
                if (logs[i] < 0)
                    logs[i] += order;
            }
            if (v == 0)
                positions[count++] = n - 1 - p;
        }
    }
    return count == length;
}

int BchDecoder::correct(uint8_t* frame, const uint16_t* s, bool reference) const
{
    int positions[kMaxT];
    int count = 0;
    if (!locate(s, positions, count, reference))
        return kFailed;
    for (int j = 0; j < count; ++j)
        frame[positions[j] >> 3] ^= uint8_t(0x80 >> (positions[j] & 7));
    return count;
}

int BchDecoder::decode(uint8_t* frame) const
{
    uint16_t s[2 * kMaxT];
    if (syndromes(frame, s))
        return 0;
    return correct(frame, s, false);
}

int BchDecoder::decodeReference(uint8_t* frame) const
{
    uint16_t s[2 * kMaxT];
    if (syndromesReference(frame, s))
        return 0;
    return correct(frame, s, true);
}
