// GF(2^8) arithmetic through logarithm and antilogarithm tables, built at
// compile time for a primitive polynomial with primitive element α = 2.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace gf {

namespace detail {

struct Tables {
    // 512 antilogarithms, so sums of two logarithms need no reduction.
    std::array<uint8_t, 512> exp{};
    std::array<int, 256> log{};
};

template <unsigned Polynomial>
constexpr Tables buildTables()
{
    Tables t{};
    unsigned x = 1;
    for (int i = 0; i < 255; ++i) {
        t.exp[size_t(i)] = uint8_t(x);
        t.log[x] = i;
        x <<= 1;
        if (x & 0x100)
            x ^= Polynomial;
    }
    for (int i = 255; i < 512; ++i)
        t.exp[size_t(i)] = t.exp[size_t(i - 255)];
    return t;
}

template <unsigned Polynomial>
inline constexpr Tables tables = buildTables<Polynomial>();

} // namespace detail

template <unsigned Polynomial>
struct GF256 {
    static constexpr const detail::Tables& t = detail::tables<Polynomial>;

    static constexpr uint8_t add(uint8_t a, uint8_t b) { return uint8_t(a ^ b); }

    // A product with a zero factor is 0.
    static constexpr uint8_t mul(uint8_t a, uint8_t b)
    {
        return (a == 0 || b == 0) ? 0 : t.exp[size_t(t.log[a] + t.log[b])];
    }

    // a / b for b ≠ 0.
    static constexpr uint8_t div(uint8_t a, uint8_t b)
    {
        return a == 0 ? 0 : t.exp[size_t(t.log[a] + 255 - t.log[b])];
    }

    // α^e for any integer e, negative ones included.
    static constexpr uint8_t power(int e) { return t.exp[size_t(((e % 255) + 255) % 255)]; }

    static constexpr int log(uint8_t a) { return t.log[a]; }
};

// The field of the DVB outer codes: x^8 + x^4 + x^3 + x^2 + 1.
using GF256Dvb = GF256<0x11D>;

} // namespace gf
