// The constellation: where the demodulated symbols fall, as a fading
// persistence image over the ideal points of the current constellation.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include <array>
#include <complex>
#include <vector>

class ConstellationObject;

class IQPlot : public QWidget {
public:
    static constexpr int kSize = 256;
    static constexpr int kFadeStep = 48;
    // Pixels per unit for the ideal points: 128 / √2.
    static constexpr double kPointScale = 90.50967;

    explicit IQPlot(QWidget* parent = nullptr);

    // Every symbol inside the unit square clears its pixel (0: a fresh hit).
    void showSymbols(const std::vector<std::complex<float>>& symbols);
    // The constellation whose ideal points are drawn (null: none), scaled to
    // unit mean energy as the symbols are.
    void setReference(const ConstellationObject* constellation);

    // The refresh tick: when symbols came since the last tick, every pixel
    // brightens by 48 (a hit is gone after six ticks) and the plot repaints.
    // With `withoutSymbols` it fades even when none came (the input stalled).
    void fade(bool withoutSymbols = false);

    void setDotColour(const QColor& colour);
    QColor dotColour() const { return dots; }

    // A copy of the persistence image (255: empty, 0: a fresh hit).
    QImage persistence() const;
    // The pixel a symbol lands on, or (−1, −1) when it is outside the square.
    static QPoint pixelOf(std::complex<float> symbol);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image;   // kSize × kSize, one byte per pixel
    bool updated = false;
    const ConstellationObject* reference = nullptr;
    double referenceScale = 1.0;   // the reference's points to unit mean energy
    QColor dots{16, 64, 192};
    QImage composed;   // the persistence image in colour, kSize × kSize
    std::array<QRgb, 256> shades{};   // image value → colour, dot (0) to background (255)
    QImage canvas;     // where the plot is composed, kept between paints
};
