#include "ui/TraceDisplay.h"


#include <QPainter>

#include <algorithm>
#include <cmath>

TraceDisplay::TraceDisplay(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumHeight(120);
    setMaximumHeight(160);
}

double TraceDisplay::shownDb(double dbfs)
{
    return std::clamp(dbfs, kFloorDb, kTopDb);
}

void TraceDisplay::setLevels(const std::vector<double>& dbfs)
{
    shown.resize(dbfs.size());
    std::transform(dbfs.begin(), dbfs.end(), shown.begin(), shownDb);
    update();
}

void TraceDisplay::setBand(float offsetPosition, float rate, float rolloff, uint64_t fs)
{
    if (offsetPosition == offset && rate == symbolRate && rolloff == rollOff && fs == sampleRate)
        return;
    offset = offsetPosition;
    symbolRate = rate;
    rollOff = rolloff;
    sampleRate = fs;
    update();
}

int TraceDisplay::yOf(double db) const
{
    return int(std::lround((kTopDb - db) / (kTopDb - kFloorDb) * (height() - 1)));
}

void TraceDisplay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int w = width();
    // Background, band and grid change with the band or the size only: drawn
    // once into an opaque picture, then copied under each new trace.
    const std::array<double, 4> drawnFor = {double(offset), double(symbolRate), double(rollOff), double(sampleRate)};
    if (backdrop.size() != size() || backdropBand != drawnFor) {
        backdrop = QPixmap(size());
        backdropBand = drawnFor;
        drawBackdrop();
    }
    painter.drawPixmap(0, 0, backdrop);

    if (shown.size() < 2 || w < 2)
        return;
    // One point per pixel column: the highest bin that falls in it, so that
    // narrow carriers stay visible however many bins there are.
    QPolygon trace(w);
    const double binsPerPixel = double(shown.size()) / double(w);
    for (int x = 0; x < w; ++x) {
        const size_t first = size_t(x * binsPerPixel);
        const size_t last = std::min(shown.size(), std::max(first + 1, size_t((x + 1) * binsPerPixel)));
        double peak = kFloorDb;
        for (size_t i = first; i < last; ++i)
            peak = std::max(peak, shown[i]);
        trace[x] = QPoint(x, yOf(peak));
    }
    painter.setPen(QPen(traceColour(), 1));
    painter.drawPolyline(trace);
}

void TraceDisplay::drawBackdrop()
{
    QPainter painter(&backdrop);
    painter.fillRect(backdrop.rect(), QColor(16, 16, 24));
    const int w = width();

    // The band: the symbol rate bright, the roll-off skirts dimmer.
    if (sampleRate > 0) {
        const double half = w / 2.0;
        const double centre = half + half * double(offset);
        const double core = double(symbolRate) / double(sampleRate) * w / 2.0;
        const double skirt = core * (1.0 + double(rollOff));
        painter.fillRect(QRectF(centre - skirt, 0, 2 * skirt, height()), QColor(80, 80, 120));
        painter.fillRect(QRectF(centre - core, 0, 2 * core, height()), QColor(60, 90, 160));
    }

    // A line every 10 dB, labelled.
    QFont small = font();
    small.setPointSizeF(7);
    painter.setFont(small);
    for (double db = kTopDb - 10; db > kFloorDb; db -= 10) {
        const int y = yOf(db);
        painter.setPen(QColor(70, 70, 80));
        painter.drawLine(0, y, w, y);
        painter.setPen(QColor(150, 150, 160));
        painter.drawText(3, y - 2, QString("%1 dBFS").arg(db));
    }
}
