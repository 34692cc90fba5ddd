// The 16APSK and 32APSK constellations of DVB-S2 (EN 302 307-1 §5.4.3 and
// §5.4.4): rings of 4 + 12 and 4 + 12 + 16 points whose radii follow the
// code rate (tables 9 and 10), each point under its bit label.
#pragma once

#include <array>
#include <complex>

struct ApskConstellation {
    int bitsPerSymbol = 0;   // 4 or 5
    int size = 0;            // 16 or 32 points
    // By bit label (the symbol's first bit is the label's most significant
    // one), scaled to unit mean energy.
    std::array<std::complex<float>, 32> points{};
};

// The constellation of MODCOD 18–28 (16APSK 2/3 … 32APSK 9/10); nullptr for
// any other.
const ApskConstellation* apskConstellation(int modcod);
