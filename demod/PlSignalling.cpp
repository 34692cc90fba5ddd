#include "demod/PlSignalling.h"

#include <cmath>
#include <cstddef>

namespace {

// The Es/N0 of quasi-error-free operation (normal frames, AWGN, ideal
// receiver) as the standard gives it; NaN where no code applies.
const ModcodRow kModcods[32] = {
    {"DUMMY FRAME", 0, NAN},  {"QPSK 1/4", 2, -2.35},   {"QPSK 1/3", 2, -1.24},   {"QPSK 2/5", 2, -0.30},
    {"QPSK 1/2", 2, 1.00},    {"QPSK 3/5", 2, 2.23},    {"QPSK 2/3", 2, 3.10},    {"QPSK 3/4", 2, 4.03},
    {"QPSK 4/5", 2, 4.68},    {"QPSK 5/6", 2, 5.18},    {"QPSK 8/9", 2, 6.20},    {"QPSK 9/10", 2, 6.42},
    {"8PSK 3/5", 3, 5.50},    {"8PSK 2/3", 3, 6.62},    {"8PSK 3/4", 3, 7.91},    {"8PSK 5/6", 3, 9.35},
    {"8PSK 8/9", 3, 10.69},   {"8PSK 9/10", 3, 10.98},  {"16APSK 2/3", 4, 8.97},  {"16APSK 3/4", 4, 10.21},
    {"16APSK 4/5", 4, 11.03}, {"16APSK 5/6", 4, 11.61}, {"16APSK 8/9", 4, 12.89}, {"16APSK 9/10", 4, 13.13},
    {"32APSK 3/4", 5, 12.73}, {"32APSK 4/5", 5, 13.64}, {"32APSK 5/6", 5, 14.28}, {"32APSK 8/9", 5, 15.69},
    {"32APSK 9/10", 5, 16.05}, {"RESERVED (29)", 0, NAN}, {"RESERVED (30)", 0, NAN}, {"RESERVED (31)", 0, NAN},
};

constexpr uint64_t kBasis[6] = {0x5555555555555555ull, 0x3333333333333333ull, 0x0F0F0F0F0F0F0F0Full,
                                0x00FF00FF00FF00FFull, 0x0000FFFF0000FFFFull, 0x00000000FFFFFFFFull};

std::array<uint8_t, kScramblingLength> makeSequence()
{
    std::array<uint8_t, kScramblingLength> r{};
    uint32_t x = 1;          // x(0) = 1, bit i holds x(i)
    uint32_t y = 0x3FFFF;    // all 18 bits 1
    auto bit = [](uint32_t v, int i) { return (v >> i) & 1u; };
    for (int n = 0; n < kScramblingLength; ++n) {
        const uint32_t z = bit(x, 0) ^ bit(y, 0);
        const uint32_t z2 = (bit(x, 4) ^ bit(x, 6) ^ bit(x, 15)) ^
                            (bit(y, 5) ^ bit(y, 6) ^ bit(y, 8) ^ bit(y, 9) ^ bit(y, 10) ^ bit(y, 11) ^
                             bit(y, 12) ^ bit(y, 13) ^ bit(y, 14) ^ bit(y, 15));
        r[size_t(n)] = uint8_t(z + 2 * z2);
        // x(i) = x(i+1), x(17) = x(0) ⊕ x(7); y likewise with its taps.
        const uint32_t xNew = bit(x, 0) ^ bit(x, 7);
        const uint32_t yNew = bit(y, 0) ^ bit(y, 5) ^ bit(y, 7) ^ bit(y, 10);
        x = (x >> 1) | (xNew << 17);
        y = (y >> 1) | (yNew << 17);
    }
    return r;
}

} // namespace

const ModcodRow& s2ModcodRow(int modcod)
{
    return kModcods[modcod & 31];
}

int slotsPerFrame(int constellationIndex, bool shortFrame)
{
    static const int normal[6] = {36, 0, 360, 240, 180, 144};
    static const int shortSlots[6] = {36, 0, 90, 60, 45, 36};
    if (constellationIndex < 0 || constellationIndex > 5)
        return 0;
    return shortFrame ? shortSlots[constellationIndex] : normal[constellationIndex];
}

int plFrameSymbols(uint8_t pls)
{
    const int modcod = plsModcod(pls);
    if (modcod == 0)
        return 90 + 90 * slotsPerFrame(0, false);
    const int slots = slotsPerFrame(s2ModcodRow(modcod).constellationIndex, plsShortFrame(pls));
    if (slots == 0)
        return 0;
    const int pilotBlocks = plsPilots(pls) ? (slots - 1) / 16 : 0;
    return 90 + 90 * slots + 36 * pilotBlocks;
}

uint8_t decodePlsHeader(uint64_t r)
{
    int decisions = 0;
    uint64_t reconstruction = 0;
    for (int t = 0; t < 6; ++t) {
        // Pairs of positions differing only in position bit t.
        const uint64_t differing = (r ^ (r >> (1u << t))) & kBasis[t];
        const bool a = __builtin_popcountll(differing) > 15;
        decisions = (decisions << 1) | int(a);
        if (a)
            reconstruction ^= kBasis[t];
    }
    const int constant = __builtin_popcountll(reconstruction ^ r) > 31 ? 1 : 0;
    const int a0 = (decisions >> 5) & 1;
    const int modcod = decisions & 0x1F;   // t = 1 … 5, t = 1 most significant
    return uint8_t(modcod | constant << 5 | a0 << 6);
}

uint64_t encodePlsHeader(uint8_t pls)
{
    uint64_t word = (pls & 0x40) ? kBasis[0] : 0;
    for (int t = 1; t < 6; ++t)
        if ((pls >> (5 - t)) & 1)
            word ^= kBasis[t];
    return (pls & 0x20) ? ~word : word;
}

const std::array<uint8_t, kScramblingLength>& plScramblingCode0()
{
    static const std::array<uint8_t, kScramblingLength> sequence = makeSequence();
    return sequence;
}

std::string plsFrameText(uint8_t pls)
{
    return std::string(plsShortFrame(pls) ? "short" : "normal") + (plsPilots(pls) ? " pilots" : "");
}

std::string plsCodeText(uint8_t pls)
{
    return s2ModcodRow(plsModcod(pls)).name + (" " + plsFrameText(pls));
}
