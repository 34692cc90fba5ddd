#include "tx/LdpcEncoder.h"

#include "fec/Dvbs2LdpcTables.h"

#include <cstring>

namespace tx {

namespace {

// Information-bit edges of table T: calls visit(bit, check) for every edge, the
// standard's address (x + m·q) mod (N − K) for bit m of each row.
template <typename T, typename Visit>
void forEachEdge(Visit&& visit)
{
    constexpr int parityBits = T::N - T::K;
    const int32_t* row = T::addressRows;
    int bit = 0;
    for (int g = 0; g < T::groupCount; ++g) {
        const int degree = T::groupDegrees[g];
        for (int r = 0; r < T::groupRowCounts[g]; ++r, row += degree) {
            for (int m = 0; m < T::M; ++m, ++bit) {
                const int offset = m * T::q;
                for (int j = 0; j < degree; ++j) {
                    int address = row[j] + offset;
                    if (address >= parityBits)
                        address -= parityBits;
                    visit(bit, address);
                }
            }
        }
    }
}

template <typename T>
void accumulate(const uint8_t* info, uint8_t* parity)
{
    static_assert(T::q * T::M == T::N - T::K, "q circulants of 360");
    constexpr int parityBits = T::N - T::K;
    const int32_t* row = T::addressRows;
    int bit = 0;
    for (int g = 0; g < T::groupCount; ++g) {
        const int degree = T::groupDegrees[g];
        for (int r = 0; r < T::groupRowCounts[g]; ++r, row += degree) {
            for (int m = 0; m < T::M; ++m, ++bit) {
                if (!info[bit])
                    continue;
                const int offset = m * T::q;
                for (int j = 0; j < degree; ++j) {
                    int address = row[j] + offset;
                    if (address >= parityBits)
                        address -= parityBits;
                    parity[address] ^= 1;
                }
            }
        }
    }
}

template <typename T>
std::vector<std::vector<int>> checks()
{
    std::vector<std::vector<int>> c(T::N - T::K);
    forEachEdge<T>([&](int bit, int check) { c[size_t(check)].push_back(bit); });
    return c;
}

// Calls f.template operator()<T>() for the table of a code index.
template <typename F>
auto withTable(int codeIndex, F&& f)
{
    switch (codeIndex) {
    case 0: return f(DVB_S2_TABLE_B1{});
    case 1: return f(DVB_S2_TABLE_B2{});
    case 2: return f(DVB_S2_TABLE_B3{});
    case 3: return f(DVB_S2_TABLE_B4{});
    case 4: return f(DVB_S2_TABLE_B5{});
    case 5: return f(DVB_S2_TABLE_B6{});
    case 6: return f(DVB_S2_TABLE_B7{});
    case 7: return f(DVB_S2_TABLE_B8{});
    case 8: return f(DVB_S2_TABLE_B9{});
    case 9: return f(DVB_S2_TABLE_B10{});
    case 10: return f(DVB_S2_TABLE_B11{});
    case 11: return f(DVB_S2_TABLE_C1{});
    case 12: return f(DVB_S2_TABLE_C2{});
    case 13: return f(DVB_S2_TABLE_C3{});
    case 14: return f(DVB_S2_TABLE_C4{});
    case 15: return f(DVB_S2_TABLE_C5{});
    case 16: return f(DVB_S2_TABLE_C6{});
    case 17: return f(DVB_S2_TABLE_C7{});
    case 18: return f(DVB_S2_TABLE_C8{});
    case 19: return f(DVB_S2_TABLE_C9{});
    default: return f(DVB_S2_TABLE_C10{});
    }
}

} // namespace

LdpcEncoder::LdpcEncoder(int codeIndex)
    : codeIndex(codeIndex)
{
    withTable(codeIndex, [this](auto t) {
        using T = decltype(t);
        nldpc = T::N;
        kldpc = T::K;
        return 0;
    });
    bits.resize(size_t(kldpc));
    parity.resize(size_t(nldpc - kldpc));
}

void LdpcEncoder::encode(const uint8_t* in, uint8_t* out)
{
    const int infoBytes = kldpc / 8;
    for (int i = 0; i < infoBytes; ++i)
        for (int b = 0; b < 8; ++b)
            bits[size_t(8 * i + b)] = uint8_t(in[i] >> (7 - b) & 1);
    std::fill(parity.begin(), parity.end(), 0);
    withTable(codeIndex, [this](auto t) {
        accumulate<decltype(t)>(bits.data(), parity.data());
        return 0;
    });
    for (size_t j = 1; j < parity.size(); ++j)
        parity[j] ^= parity[j - 1]; // p_j = p_j ⊕ p_(j−1)
    if (out != in)
        std::memcpy(out, in, size_t(infoBytes));
    for (size_t i = 0; i < parity.size() / 8; ++i) {
        uint8_t byte = 0;
        for (int b = 0; b < 8; ++b)
            byte = uint8_t(byte << 1 | parity[8 * i + size_t(b)]);
        out[size_t(infoBytes) + i] = byte;
    }
}

std::vector<std::vector<int>> LdpcEncoder::checkNodes(int codeIndex)
{
    return withTable(codeIndex, [](auto t) { return checks<decltype(t)>(); });
}

} // namespace tx
