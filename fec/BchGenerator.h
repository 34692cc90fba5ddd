// The generator polynomial of a DVB-S2 outer BCH code (EN 302 307-1 §5.3.1:
// the product of the frame size's first t factor polynomials) and the table
// that divides by it a byte at a time: the decoder's remainder and the test
// transmitter's parity come from the same division.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// A remainder of degree below 192, left-aligned: the coefficient of x^191
// is the top bit of word 0.
using BchRegister = std::array<uint64_t, 3>;

// The product of two binary polynomials, bit i the coefficient of x^i.
std::vector<uint8_t> multiplyBinaryPolynomials(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

// The generator of code `codeIndex` (0 … 10 normal, 11 … 20 short), bit i
// the coefficient of x^i; its degree is N_bch − K_bch.
std::vector<uint8_t> bchGenerator(int codeIndex);

// table[b] = b(x) · x^degree mod g(x) for every b of degree below 8, degree
// being the generator's (at most 192).
std::array<BchRegister, 256> bchRemainderTable(const std::vector<uint8_t>& generator);
