#include "ui/WaterfallColours.h"

#include <cmath>

namespace {

struct Knot {
    int index;
    int r, g, b;
};

constexpr Knot kKnots[] = {{0, 0, 0, 0},       {37, 0, 0, 128},  {74, 64, 128, 255}, {111, 255, 255, 128},
                           {147, 255, 255, 0}, {219, 255, 0, 0}, {256, 64, 0, 0}};

std::array<QRgb, 256> makeTable()
{
    std::array<QRgb, 256> table{};
    for (int i = 0; i < 256; ++i) {
        size_t k = 0;
        while (kKnots[k + 1].index <= i)
            ++k;
        const Knot& a = kKnots[k];
        const Knot& b = kKnots[k + 1];
        const double t = double(i - a.index) / double(b.index - a.index);
        auto channel = [t](int from, int to) { return int(from + (to - from) * t); };
        table[size_t(i)] = qRgb(channel(a.r, b.r), channel(a.g, b.g), channel(a.b, b.b));
    }
    table[255] = qRgb(255, 255, 255);
    return table;
}

} // namespace

const std::array<QRgb, 256>& waterfallColourTable()
{
    static const std::array<QRgb, 256> table = makeTable();
    return table;
}

int waterfallColourIndex(float value)
{
    const float scaled = std::floor(value * 255.0f);
    if (!(scaled >= 0.0f && scaled <= 255.0f))
        return 255;
    return int(scaled);
}
