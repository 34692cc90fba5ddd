// Polynomials over a Galois field with fixed storage, coefficient i of x^i.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace poly {

template <typename Field, int Capacity>
struct Polynomial {
    std::array<uint8_t, Capacity> c{};
    int degree = -1;   // −1 for the zero polynomial

    void trim()
    {
        while (degree >= 0 && c[size_t(degree)] == 0)
            --degree;
    }

    // p(x) by Horner's rule.
    uint8_t evaluate(uint8_t x) const
    {
        uint8_t v = 0;
        for (int i = degree; i >= 0; --i)
            v = Field::add(Field::mul(v, x), c[size_t(i)]);
        return v;
    }

    // The formal derivative: in characteristic 2 only the odd terms remain.
    Polynomial derivative() const
    {
        Polynomial d;
        for (int i = 1; i <= degree; i += 2)
            d.c[size_t(i - 1)] = c[size_t(i)];
        d.degree = degree - 1;
        d.trim();
        return d;
    }
};

} // namespace poly
