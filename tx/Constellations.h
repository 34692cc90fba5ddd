// Bit mapping into QPSK, 8PSK, 16APSK and 32APSK, EN 302 307-1 §5.4
// (figures 9 – 12, table 9 and 10 for the APSK ring ratios).
#pragma once

#include "tx/Modcod.h"

#include <complex>
#include <vector>

namespace tx {

using cf32 = std::complex<float>;

// The points of the MODCOD's constellation indexed by their bit label
// (first bit of the symbol = most significant bit of the label), scaled to
// unit mean energy. Empty for the dummy frame and reserved MODCODs.
std::vector<cf32> constellationPoints(int modcod);

// APSK ring ratios for a MODCOD: γ = R2/R1 (16APSK), or γ1 = R2/R1 and
// γ2 = R3/R1 (32APSK); 0 where not applicable.
double apskGamma1(int modcod);
double apskGamma2(int modcod);

} // namespace tx
