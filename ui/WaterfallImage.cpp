#include "ui/WaterfallImage.h"

#include "ui/WaterfallColours.h"

#include <algorithm>

WaterfallImage::WaterfallImage(int width, int height)
    : lines(std::max(width, 1), std::max(height, 1), QImage::Format_RGB32),
      current(lines.height() - 1)
{
    lines.fill(Qt::black);
}

bool WaterfallImage::addLine(const std::vector<float>& values)
{
    if (values.empty())
        return false;
    if (int(values.size()) != lines.width()) {
        lines = lines.scaled(int(values.size()), lines.height());
        if (current < 0)
            current = lines.height() - 1;
        return false;
    }
    auto* row = reinterpret_cast<QRgb*>(lines.scanLine(current));
    if (--current < 0)
        current = lines.height() - 1;
    const std::array<QRgb, 256>& colours = waterfallColourTable();
    for (size_t i = 0; i < values.size(); ++i)
        row[i] = colours[size_t(waterfallColourIndex(values[i]))];
    return true;
}
