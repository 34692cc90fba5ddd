// Baseband descrambling sequence, EN 302 307-1 §5.2.2: PRBS 1 + x^14 + x^15,
// register loaded with 100101010000000 at the start of every frame, packed
// eight bits per byte with the first bit in the most significant position.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

constexpr int kBbScrambleBytes = 8100; // the longest codeword, 64800 bits

constexpr std::array<uint8_t, kBbScrambleBytes> makeBbScrambleTable()
{
    std::array<uint8_t, kBbScrambleBytes> table{};
    // Bit s−1 holds stage s of the register; stage 1 is loaded with the first digit.
    uint32_t reg = 0x00a9; // stages 1, 4, 6, 8 set: 100101010000000
    for (int byte = 0; byte < kBbScrambleBytes; ++byte) {
        uint8_t value = 0;
        for (int bit = 0; bit < 8; ++bit) {
            const uint32_t out = ((reg >> 13) ^ (reg >> 14)) & 1; // stage 14 XOR stage 15
            reg = ((reg << 1) | out) & 0x7fff;
            value = uint8_t((value << 1) | out);
        }
        table[size_t(byte)] = value;
    }
    return table;
}

inline constexpr std::array<uint8_t, kBbScrambleBytes> kBbScrambleTable = makeBbScrambleTable();

static_assert(kBbScrambleTable[0] == 0x03 && kBbScrambleTable[1] == 0xf6 && kBbScrambleTable[2] == 0x08 &&
                  kBbScrambleTable[3] == 0x34 && kBbScrambleTable[7] == 0x93,
              "EN 302 307-1 BB scrambling sequence");
