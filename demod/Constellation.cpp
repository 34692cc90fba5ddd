#include "demod/Constellation.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kPi = 3.14159265f;

} // namespace

void ConstellationObject::addRing(float radius, std::initializer_list<std::pair<float, uint8_t>> points)
{
    ConstellationRing ring{{}, radius};
    for (const auto& [phase, label] : points)
        ring.points.push_back({phase, 0.0f, label});
    ringList.push_back(std::move(ring));
}

uint8_t ConstellationObject::nearestPoint(float i, float q) const
{
    const float rho = std::sqrt(i * i + q * q);
    const float theta = std::atan2(q, i);
    size_t ring = 0;
    for (size_t r = 1; r < ringList.size(); ++r)
        if (std::fabs(rho - ringList[r].radius) < std::fabs(rho - ringList[ring].radius))
            ring = r;
    const auto& points = ringList[ring].points;
    size_t best = 0;
    for (size_t p = 1; p < points.size(); ++p)
        if (std::fabs(theta - points[p].angle) < std::fabs(theta - points[best].angle))
            best = p;
    return uint8_t(ring * 16 + best);
}

void ConstellationObject::build()
{
    idealPoints.clear();
    float radiusSum = 0;
    for (auto& ring : ringList) {
        for (auto& p : ring.points) {
            p.angle = std::atan2(std::sin(p.phase), std::cos(p.phase));
            idealPoints.emplace_back(ring.radius * std::cos(p.phase), ring.radius * std::sin(p.phase));
        }
        radiusSum += ring.radius;
    }
    mean = ringList.empty() ? 0.0f : radiusSum / float(ringList.size());
    for (int row = 0; row < 256; ++row)
        for (int col = 0; col < 256; ++col)
            decisionTable[row][col] = nearestPoint(col / 128.0f - 1.0f, row / 128.0f - 1.0f);
}

int ConstellationObject::pointCount() const
{
    int count = 0;
    for (const auto& ring : ringList)
        count += int(ring.points.size());
    return count;
}

uint8_t ConstellationObject::tableCode(float i, float q) const
{
    // Truncated toward zero, then clamped to the table.
    auto cell = [](float v) {
        const float scaled = v * 128.0f;
        if (!(scaled > -1e6f && scaled < 1e6f))
            return scaled > 0 ? 255 : 0;
        return std::clamp(int(scaled) + 128, 0, 255);
    };
    return decisionTable[cell(q)][cell(i)];
}

std::complex<float> ConstellationObject::decidePoint(float i, float q) const
{
    const uint8_t code = tableCode(i, q);
    const ConstellationRing& ring = ringList[code >> 4];
    const ConstellationPoint& p = ring.points[code & 15];
    return {ring.radius * std::cos(p.phase), ring.radius * std::sin(p.phase)};
}

uint8_t ConstellationObject::decideBits(float i, float q) const
{
    const uint8_t code = tableCode(i, q);
    return ringList[code >> 4].points[code & 15].label;
}

ConstBPSK::ConstBPSK()
{
    addRing(1.0f, {{kPi / 2, 0}, {3 * kPi / 2, 1}});
}

ConstQPSK::ConstQPSK()
{
    addRing(1.0f, {{kPi / 4, 0}, {3 * kPi / 4, 1}, {5 * kPi / 4, 3}, {7 * kPi / 4, 2}});
}

Const8PSK::Const8PSK()
{
    addRing(1.0f, {{0, 4}, {kPi / 4, 0}, {kPi / 2, 1}, {3 * kPi / 4, 5}, {kPi, 7}, {5 * kPi / 4, 3},
                   {3 * kPi / 2, 2}, {7 * kPi / 4, 6}});
}

Const16APSK::Const16APSK()
{
    addRing(0.35087720f, {{kPi / 4, 12}, {3 * kPi / 4, 13}, {5 * kPi / 4, 15}, {7 * kPi / 4, 14}});
    addRing(1.0f, {{kPi / 12, 8}, {kPi / 4, 0}, {5 * kPi / 12, 4}, {7 * kPi / 12, 5}, {3 * kPi / 4, 1},
                   {11 * kPi / 12, 9}, {13 * kPi / 12, 11}, {5 * kPi / 4, 3}, {17 * kPi / 12, 7},
                   {19 * kPi / 12, 6}, {7 * kPi / 4, 2}, {23 * kPi / 12, 10}});
}

Const32APSK::Const32APSK()
{
    addRing(0.18975332f, {{kPi / 4, 17}, {3 * kPi / 4, 19}, {5 * kPi / 4, 23}, {7 * kPi / 4, 21}});
    addRing(0.53889942f, {{kPi / 12, 1}, {kPi / 4, 0}, {5 * kPi / 12, 16}, {7 * kPi / 12, 18}, {3 * kPi / 4, 2},
                          {11 * kPi / 12, 3}, {13 * kPi / 12, 7}, {5 * kPi / 4, 6}, {17 * kPi / 12, 22},
                          {19 * kPi / 12, 20}, {7 * kPi / 4, 4}, {23 * kPi / 12, 5}});
    addRing(1.0f, {{0, 13}, {kPi / 8, 9}, {kPi / 4, 25}, {3 * kPi / 8, 8}, {kPi / 2, 24}, {5 * kPi / 8, 26},
                   {3 * kPi / 4, 10}, {7 * kPi / 8, 27}, {kPi, 11}, {9 * kPi / 8, 15}, {5 * kPi / 4, 31},
                   {11 * kPi / 8, 14}, {3 * kPi / 2, 30}, {13 * kPi / 8, 28}, {7 * kPi / 4, 12},
                   {15 * kPi / 8, 29}});
}

Const16QAM::Const16QAM()
{
    addRing(1.0f / 3.0f, {{kPi / 4, 10}, {3 * kPi / 4, 6}, {5 * kPi / 4, 5}, {7 * kPi / 4, 9}});
    addRing(0.75f, {{kPi / 8, 14}, {3 * kPi / 8, 11}, {5 * kPi / 8, 7}, {7 * kPi / 8, 2}, {9 * kPi / 8, 1},
                    {11 * kPi / 8, 4}, {13 * kPi / 8, 8}, {15 * kPi / 8, 13}});
    addRing(1.0f, {{kPi / 4, 15}, {3 * kPi / 4, 3}, {5 * kPi / 4, 0}, {7 * kPi / 4, 12}});
}

namespace {

// Built in order, each completely before the next; destroyed in reverse.
struct Constellations {
    ConstBPSK bpsk;
    ConstQPSK qpsk;
    Const8PSK psk8;
    Const16APSK apsk16;
    Const32APSK apsk32;
    Const16QAM qam16;
    Constellations()
    {
        for (ConstellationObject* c : std::initializer_list<ConstellationObject*>{&bpsk, &qpsk, &psk8, &apsk16, &apsk32, &qam16})
            c->build();
    }
};

const Constellations& all()
{
    static const Constellations instances;
    return instances;
}

} // namespace

const ConstellationObject& constBPSK() { return all().bpsk; }
const ConstellationObject& constQPSK() { return all().qpsk; }
const ConstellationObject& const8PSK() { return all().psk8; }
const ConstellationObject& const16APSK() { return all().apsk16; }
const ConstellationObject& const32APSK() { return all().apsk32; }
const ConstellationObject& const16QAM() { return all().qam16; }

const ConstellationObject* constellationByIndex(int index)
{
    switch (index) {
    case 1: return &constBPSK();
    case 2: return &constQPSK();
    case 3: return &const8PSK();
    case 4: return &const16APSK();
    case 5: return &const32APSK();
    default: return nullptr;
    }
}
