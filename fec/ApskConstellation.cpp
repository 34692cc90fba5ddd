#include "fec/ApskConstellation.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Outer/inner ring ratio γ (16APSK), or γ1 and γ2 (32APSK), MODCOD 18–28.
constexpr double kGamma1[11] = {3.15, 2.85, 2.75, 2.70, 2.60, 2.57, 2.84, 2.72, 2.64, 2.54, 2.53};
constexpr double kGamma2[11] = {0, 0, 0, 0, 0, 0, 5.27, 4.87, 4.64, 4.33, 4.30};

// Each label's ring (0 inner) and phase: in steps of π/12 on the rings of
// 4 and 12 points, of π/8 on the ring of 16.
struct Place {
    int ring;
    int phase;
};
constexpr Place k16apsk[16] = {
    {1, 3}, {1, 21}, {1, 9}, {1, 15}, {1, 1}, {1, 23}, {1, 11}, {1, 13},
    {1, 5}, {1, 19}, {1, 7}, {1, 17}, {0, 3}, {0, 21}, {0, 9}, {0, 15},
};
constexpr Place k32apsk[32] = {
    {1, 3}, {1, 5}, {1, 21}, {1, 19}, {1, 9}, {1, 7}, {1, 15}, {1, 17},
    {2, 1}, {2, 3}, {2, 14}, {2, 12}, {2, 6}, {2, 4}, {2, 9}, {2, 11},
    {1, 1}, {0, 3}, {1, 23}, {0, 21}, {1, 11}, {0, 9}, {1, 13}, {0, 15},
    {2, 0}, {2, 2}, {2, 15}, {2, 13}, {2, 7}, {2, 5}, {2, 8}, {2, 10},
};

ApskConstellation build(int modcod)
{
    const int row = modcod - 18;
    const bool apsk32 = modcod >= 24;
    const Place* places = apsk32 ? k32apsk : k16apsk;
    ApskConstellation c;
    c.bitsPerSymbol = apsk32 ? 5 : 4;
    c.size = 1 << c.bitsPerSymbol;
    const double radius[3] = {1.0, kGamma1[row], kGamma2[row]};
    const int perRing[3] = {4, 12, 16};
    double energy = 0;
    for (int ring = 0; ring < (apsk32 ? 3 : 2); ++ring)
        energy += perRing[ring] * radius[ring] * radius[ring];
    const double unit = std::sqrt(c.size / energy);   // the inner radius
    for (int label = 0; label < c.size; ++label) {
        const Place p = places[label];
        const double step = p.ring == 2 ? kPi / 8 : kPi / 12;
        c.points[size_t(label)] = std::complex<float>(std::polar(unit * radius[p.ring], p.phase * step));
    }
    return c;
}

} // namespace

const ApskConstellation* apskConstellation(int modcod)
{
    static const std::array<ApskConstellation, 11> all = [] {
        std::array<ApskConstellation, 11> a;
        for (int m = 18; m <= 28; ++m)
            a[size_t(m - 18)] = build(m);
        return a;
    }();
    return modcod >= 18 && modcod <= 28 ? &all[size_t(modcod - 18)] : nullptr;
}
