#include "tx/Constellations.h"

#include <cmath>

namespace tx {

namespace {

constexpr double kPi = 3.14159265358979323846;

cf32 polar(double r, double phase)
{
    return cf32(float(r * std::cos(phase)), float(r * std::sin(phase)));
}

// Phases in units of π/12 (rings of 4 and 12) or π/8 (ring of 16), per label.
// QPSK, figure 9: label b0b1.
constexpr int kQpsk[4] = {1, 7, 3, 5};  // × π/4
// 8PSK, figure 10: label b0b1b2.
constexpr int k8psk[8] = {1, 0, 4, 5, 2, 7, 3, 6}; // × π/4
// 16APSK, figure 11: {ring, phase × π/12}; ring 0 inner, 1 outer.
constexpr int k16apsk[16][2] = {
    {1, 3}, {1, 21}, {1, 9}, {1, 15}, {1, 1}, {1, 23}, {1, 11}, {1, 13},
    {1, 5}, {1, 19}, {1, 7}, {1, 17}, {0, 3}, {0, 21}, {0, 9}, {0, 15},
};
// 32APSK, figure 12: {ring, phase}; rings 0 and 1 in π/12, ring 2 in π/8.
constexpr int k32apsk[32][2] = {
    {1, 3}, {1, 5}, {1, 21}, {1, 19}, {1, 9}, {1, 7}, {1, 15}, {1, 17},
    {2, 1}, {2, 3}, {2, 14}, {2, 12}, {2, 6}, {2, 4}, {2, 9}, {2, 11},
    {1, 1}, {0, 3}, {1, 23}, {0, 21}, {1, 11}, {0, 9}, {1, 13}, {0, 15},
    {2, 0}, {2, 2}, {2, 15}, {2, 13}, {2, 7}, {2, 5}, {2, 8}, {2, 10},
};

} // namespace

double apskGamma1(int modcod)
{
    switch (modcod) {
    case 18: return 3.15; // 16APSK 2/3
    case 19: return 2.85;
    case 20: return 2.75;
    case 21: return 2.70;
    case 22: return 2.60;
    case 23: return 2.57;
    case 24: return 2.84; // 32APSK 3/4
    case 25: return 2.72;
    case 26: return 2.64;
    case 27: return 2.54;
    case 28: return 2.53;
    default: return 0.0;
    }
}

double apskGamma2(int modcod)
{
    switch (modcod) {
    case 24: return 5.27;
    case 25: return 4.87;
    case 26: return 4.64;
    case 27: return 4.33;
    case 28: return 4.30;
    default: return 0.0;
    }
}

std::vector<cf32> constellationPoints(int modcod)
{
    std::vector<cf32> p;
    switch (modcodInfo(modcod).constellation) {
    case Constellation::Qpsk:
        for (int label = 0; label < 4; ++label)
            p.push_back(polar(1.0, kQpsk[label] * kPi / 4));
        break;
    case Constellation::Psk8:
        for (int label = 0; label < 8; ++label)
            p.push_back(polar(1.0, k8psk[label] * kPi / 4));
        break;
    case Constellation::Apsk16: {
        const double g = apskGamma1(modcod);
        const double r1 = std::sqrt(16.0 / (4.0 + 12.0 * g * g)); // mean energy 1
        for (const auto& pt : k16apsk)
            p.push_back(polar(pt[0] == 0 ? r1 : r1 * g, pt[1] * kPi / 12));
        break;
    }
    case Constellation::Apsk32: {
        const double g1 = apskGamma1(modcod);
        const double g2 = apskGamma2(modcod);
        const double r1 = std::sqrt(32.0 / (4.0 + 12.0 * g1 * g1 + 16.0 * g2 * g2));
        for (const auto& pt : k32apsk) {
            if (pt[0] == 2)
                p.push_back(polar(r1 * g2, pt[1] * kPi / 8));
            else
                p.push_back(polar(pt[0] == 0 ? r1 : r1 * g1, pt[1] * kPi / 12));
        }
        break;
    }
    case Constellation::None:
        break;
    }
    return p;
}

} // namespace tx
