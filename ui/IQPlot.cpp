#include "ui/IQPlot.h"

#include "demod/Constellation.h"

#include <QPainter>

#include <cmath>

IQPlot::IQPlot(QWidget* parent)
    : QWidget(parent),
      image(kSize, kSize, QImage::Format_Alpha8)
{
    image.fill(255);
    setFixedSize(kSize, kSize);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QPoint IQPlot::pixelOf(std::complex<float> s)
{
    const float i = s.real(), q = s.imag();
    if (!(std::fabs(i) <= 1.0f && std::fabs(q) <= 1.0f))
        return {-1, -1};
    const int column = int(std::floor((i + 1.0f) * 128.0f)) & (kSize - 1);
    const int row = int(std::floor((q + 1.0f) * 128.0f)) & (kSize - 1);
    return {column, row};
}

void IQPlot::showSymbols(const std::vector<std::complex<float>>& symbols)
{
    for (const std::complex<float>& s : symbols) {
        const QPoint p = pixelOf(s);
        if (p.x() >= 0)
            image.scanLine(p.y())[p.x()] = 0;
    }
    updated = updated || !symbols.empty();
}

void IQPlot::setReference(const ConstellationObject* constellation)
{
    if (constellation == reference)
        return;
    reference = constellation;
    // The symbols come at unit mean energy: so are the points drawn (the
    // rings of PSK as they are, APSK's outer ring beyond them).
    referenceScale = 1.0;
    if (constellation != nullptr && !constellation->points().empty()) {
        double energy = 0;
        for (const std::complex<float>& point : constellation->points())
            energy += std::norm(point);
        energy /= double(constellation->points().size());
        if (energy > 0)
            referenceScale = 1.0 / std::sqrt(energy);
    }
}

void IQPlot::fade(bool withoutSymbols)
{
    if (!updated && !withoutSymbols)
        return;
    updated = false;
    for (int y = 0; y < kSize; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < kSize; ++x)
            row[x] = uchar(std::min(int(row[x]) + kFadeStep, 255));
    }
    update();
}

void IQPlot::setDotColour(const QColor& colour)
{
    dots = QColor(colour.red(), colour.green(), colour.blue(), 255);
    update();
}

QImage IQPlot::persistence() const
{
    return image.copy();
}

namespace {

// `over` where `weight` is 0, `under` where it is 255, linear between.
QRgb blend(QRgb over, QRgb under, int weight)
{
    const auto mix = [weight](int a, int b) { return (a * (255 - weight) + b * weight + 127) / 255; };
    return qRgb(mix(qRed(over), qRed(under)), mix(qGreen(over), qGreen(under)), mix(qBlue(over), qBlue(under)));
}

} // namespace

void IQPlot::paintEvent(QPaintEvent*)
{
    // Composed off screen, then shown.
    if (composed.isNull())
        composed = QImage(kSize, kSize, QImage::Format_RGB32);
    // 1. The background stays where the image is empty (255), 2. the dot
    //    colour shows where symbols fell (0), in between the two blend: one
    //    pass over the image.
    const QRgb background = palette().color(QPalette::Window).rgb();
    const QRgb dot = dots.rgb();
    if (shades.front() != dot || shades.back() != background)
        for (int weight = 0; weight < 256; ++weight)
            shades[size_t(weight)] = blend(dot, background, weight);
    for (int y = 0; y < kSize; ++y) {
        const uchar* from = image.constScanLine(y);
        auto* to = reinterpret_cast<QRgb*>(composed.scanLine(y));
        for (int x = 0; x < kSize; ++x)
            to[x] = shades[from[x]];
    }
    if (canvas.size() != size())
        canvas = QImage(size(), QImage::Format_RGB32);
    QPainter p(&canvas);
    if (size() == composed.size())
        p.drawImage(0, 0, composed);
    else
        p.drawImage(rect(), composed);
    // 3. The axes, black in overlay: they darken what they cross.
    p.setCompositionMode(QPainter::CompositionMode_Overlay);
    p.setPen(Qt::black);
    p.drawLine(0, height() / 2, width(), height() / 2);
    p.drawLine(width() / 2, 0, width() / 2, height());
    // 4. The ideal points of the current constellation: green plus signs.
    if (const ConstellationObject* constellation = reference) {
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.setPen(QColor(0, 255, 0));
        for (const std::complex<float>& point : constellation->points()) {
            const int x = int(std::lround(point.real() * referenceScale * kPointScale + width() / 2.0));
            const int y = int(std::lround(point.imag() * referenceScale * kPointScale + height() / 2.0));
            p.drawLine(x - 1, y, x + 1, y);
            p.drawLine(x, y - 1, x, y + 1);
        }
    }
    p.end();
    QPainter(this).drawImage(0, 0, canvas);
}
