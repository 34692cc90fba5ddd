#include "demod/Constellation.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Constellation, InstancesCountsAndRadii)
{
    EXPECT_EQ(constBPSK().pointCount(), 2);
    EXPECT_EQ(constQPSK().pointCount(), 4);
    EXPECT_EQ(const8PSK().pointCount(), 8);
    EXPECT_EQ(const16APSK().pointCount(), 16);
    EXPECT_EQ(const32APSK().pointCount(), 32);
    EXPECT_EQ(const16QAM().pointCount(), 16);
    EXPECT_EQ(const8PSK().bitsPerSymbol(), 3);
    EXPECT_FLOAT_EQ(const32APSK().meanRadius(), (0.18975332f + 0.53889942f + 1.0f) / 3);
    EXPECT_EQ(constellationByIndex(2), &constQPSK());
    EXPECT_EQ(constellationByIndex(5), &const32APSK());
    EXPECT_EQ(constellationByIndex(0), nullptr);
    EXPECT_EQ(constellationByIndex(6), nullptr);
}

// Every ideal point, slightly disturbed, is decided as itself with its label.
TEST(Constellation, IdealPointsDecideToThemselves)
{
    for (const ConstellationObject* c : {&constBPSK(), &constQPSK(), &const8PSK(), &const16APSK(), &const32APSK()}) {
        const auto points = c->points();
        const auto rings = c->rings();
        size_t k = 0;
        for (const auto& ring : rings) {
            for (const auto& p : ring.points) {
                const std::complex<float> ideal = points[k++];
                const std::complex<float> nudged = ideal * std::polar(1.0f, 0.01f) * 0.98f;
                EXPECT_LT(std::abs(c->decidePoint(nudged.real(), nudged.imag()) - ideal), 1e-5f);
                EXPECT_EQ(c->decideBits(nudged.real(), nudged.imag()), p.label);
            }
        }
    }
}

TEST(Constellation, EightPskPointAtPiHasAngleMinusPi)
{
    // The π point's angle folds to −π, so +3.1 rad is nearer to 3π/4 in plain difference.
    const uint8_t code = const8PSK().nearestPoint(std::cos(3.1f), std::sin(3.1f));
    const auto ring = const8PSK().rings()[0];
    EXPECT_FLOAT_EQ(ring.points[code & 15].phase, 3 * 3.14159265f / 4);
    EXPECT_LT(ring.points[4].angle, 0.0f);
}

TEST(Constellation, OutsideTheSquareIsClampedToTheEdge)
{
    EXPECT_EQ(constQPSK().decideBits(1.5f, 0.001f), constQPSK().decideBits(0.999f, 0.001f));
    EXPECT_EQ(constQPSK().decideBits(-7.0f, -9.0f), 3);
    EXPECT_EQ(constQPSK().decideBits(NAN, INFINITY), constQPSK().decideBits(-1.0f, 1.0f));
}
