#include "ui/TraceDisplay.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

TraceDisplay::TraceDisplay(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setMinimumHeight(80);
}

QSize TraceDisplay::sizeHint() const
{
    return QSize(600, 150);
}

QRect TraceDisplay::plotArea() const
{
    return QRect(kLabelWidth, 0, std::max(0, width() - kLabelWidth), height());
}

void TraceDisplay::setLevels(const std::vector<double>& dbfs)
{
    const bool fresh = power.size() != dbfs.size();
    power.resize(dbfs.size());
    for (size_t i = 0; i < dbfs.size(); ++i) {
        const double p = std::pow(10.0, std::clamp(dbfs[i], kLowestDb, kHighestDb) / 10.0);
        power[i] = fresh ? p : power[i] + kAveraging * (p - power[i]);
    }
    shown.resize(power.size());
    for (size_t i = 0; i < power.size(); ++i)
        shown[i] = std::clamp(10.0 * std::log10(std::max(power[i], 1e-30)), kLowestDb, kHighestDb);
    followRange();
    update();
}

void TraceDisplay::followRange()
{
    double low = std::isfinite(fixedFloor) ? fixedFloor : floor;
    double high = std::isfinite(fixedTop) ? fixedTop : top;
    if (!shown.empty() && (!std::isfinite(fixedFloor) || !std::isfinite(fixedTop))) {
        // The noise floor: the level a tenth of the bins stay below.
        std::vector<double> sorted = shown;
        const size_t tenth = sorted.size() / 10;
        std::nth_element(sorted.begin(), sorted.begin() + long(tenth), sorted.end());
        const double noise = sorted[tenth];
        const double peak = *std::max_element(shown.begin(), shown.end());
        if (!std::isfinite(fixedFloor))
            low = std::floor((noise - kRangeMargin) / kRangeStep) * kRangeStep;
        if (!std::isfinite(fixedTop))
            high = std::ceil((peak + kRangeMargin) / kRangeStep) * kRangeStep;
    }
    if (high - low < kMinimumSpan) {
        // Widened on the side that follows the signal (above, when both do).
        if (!std::isfinite(fixedTop))
            high = low + kMinimumSpan;
        else
            low = high - kMinimumSpan;
    }
    floor = low;
    top = high;
}

void TraceDisplay::setFixedRange(double floorDb, double topDb)
{
    fixedFloor = floorDb;
    fixedTop = topDb;
    followRange();
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

void TraceDisplay::setTuning(double centreHz, double sampleRateHz, double lo0MHz, double lo1MHz)
{
    centre = centreHz;
    tuningRate = sampleRateHz;
    lo0 = lo0MHz;
    lo1 = lo1MHz;
}

QString TraceDisplay::readoutAt(int x) const
{
    const QRect plot = plotArea();
    if (shown.empty() || tuningRate <= 0 || plot.width() < 2 || x < plot.left() || x > plot.right())
        return QString();
    const double d = double(x - plot.left()) / double(plot.width()) * 2.0 - 1.0;
    const double mhz = (centre + d * tuningRate / 2.0) / 1e6;
    const size_t bin = std::min(shown.size() - 1, size_t(double(x - plot.left()) / plot.width() * shown.size()));
    return QString("%1 MHz (Lo %2, Hi %3) %4 dBFS")
        .arg(mhz, 0, 'f', 3)
        .arg(mhz + lo0, 0, 'f', 3)
        .arg(mhz + lo1, 0, 'f', 3)
        .arg(shown[bin], 0, 'f', 1);
}

int TraceDisplay::yOf(double db) const
{
    return int(std::lround((top - db) / (top - floor) * (height() - 1)));
}

void TraceDisplay::mouseMoveEvent(QMouseEvent* event)
{
    mouseX = event->pos().x();
    update();
    if (event->buttons() != Qt::NoButton)
        forward(event);
}

void TraceDisplay::mousePressEvent(QMouseEvent* event)
{
    forward(event);
}

void TraceDisplay::mouseReleaseEvent(QMouseEvent* event)
{
    forward(event);
}

void TraceDisplay::forward(QMouseEvent* event)
{
    const QRect plot = plotArea();
    if (clickTarget == nullptr || plot.width() < 2)
        return;
    // Presses on the labels do nothing; a drag may leave the plot.
    if (event->type() == QEvent::MouseButtonPress && !plot.contains(event->pos()))
        return;
    const double across = double(event->pos().x() - plot.left()) / double(plot.width());
    const QPointF at(across * clickTarget->width(), clickTarget->height() / 2.0);
    QMouseEvent moved(event->type(), at, clickTarget->mapToGlobal(at.toPoint()), event->button(), event->buttons(),
                      event->modifiers());
    QCoreApplication::sendEvent(clickTarget, &moved);
}

void TraceDisplay::leaveEvent(QEvent*)
{
    mouseX = -1;
    update();
}

void TraceDisplay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect plot = plotArea();
    // Background, band, grid and labels change with the band, the range or
    // the size only: drawn once into an opaque picture, then copied under
    // each new trace.
    const std::array<double, 6> drawnFor = {double(offset), double(symbolRate), double(rollOff),
                                            double(sampleRate), floor, top};
    if (backdrop.size() != size() || backdropFor != drawnFor) {
        backdrop = QPixmap(size());
        backdropFor = drawnFor;
        drawBackdrop();
    }
    painter.drawPixmap(0, 0, backdrop);

    const int w = plot.width();
    if (shown.size() < 2 || w < 2)
        return;
    // One point per pixel column: the highest bin that falls in it, so that
    // narrow carriers stay visible however many bins there are; levels
    // beyond the range at its edge.
    QPolygon trace(w);
    const double binsPerPixel = double(shown.size()) / double(w);
    for (int x = 0; x < w; ++x) {
        const size_t first = size_t(x * binsPerPixel);
        const size_t last = std::min(shown.size(), std::max(first + 1, size_t((x + 1) * binsPerPixel)));
        double peak = kLowestDb;
        for (size_t i = first; i < last; ++i)
            peak = std::max(peak, shown[i]);
        trace[x] = QPoint(plot.left() + x, yOf(std::clamp(peak, floor, top)));
    }
    painter.setClipRect(plot);
    painter.setPen(QPen(traceColour(), 1));
    painter.drawPolyline(trace);

    const QString readout = readoutAt(mouseX);
    if (!readout.isEmpty()) {
        painter.setPen(QColor(255, 255, 255, 120));
        painter.drawLine(mouseX, 0, mouseX, height());
        QFont small = font();
        small.setPointSizeF(8);
        painter.setFont(small);
        const QRect text = painter.fontMetrics().boundingRect(readout).adjusted(-4, -2, 4, 2);
        const QRect box(plot.right() - text.width() - 4, 4, text.width(), text.height());
        painter.fillRect(box, QColor(16, 16, 24, 220));
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter, readout);
    }
}

void TraceDisplay::drawBackdrop()
{
    QPainter painter(&backdrop);
    painter.fillRect(backdrop.rect(), QColor(16, 16, 24));
    const QRect plot = plotArea();

    // The band: the symbol rate bright, the roll-off skirts dimmer.
    if (sampleRate > 0) {
        const double half = plot.width() / 2.0;
        const double middle = plot.left() + half + half * double(offset);
        const double core = double(symbolRate) / double(sampleRate) * plot.width() / 2.0;
        const double skirt = core * (1.0 + double(rollOff));
        painter.setClipRect(plot);
        painter.fillRect(QRectF(middle - skirt, 0, 2 * skirt, height()), QColor(80, 80, 120));
        painter.fillRect(QRectF(middle - core, 0, 2 * core, height()), QColor(60, 90, 160));
        painter.setClipping(false);
    }

    // Grid lines, labelled in the strip on the left where no trace is drawn.
    painter.fillRect(QRect(0, 0, kLabelWidth, height()), QColor(28, 28, 36));
    QFont small = font();
    small.setPointSizeF(7);
    painter.setFont(small);
    // The finest of 5, 10, 20 and 50 dB whose labels keep apart.
    const int textHeight = painter.fontMetrics().height();
    double step = 5.0;
    for (double candidate : {5.0, 10.0, 20.0, 50.0}) {
        step = candidate;
        if ((height() - 1) * candidate / (top - floor) >= textHeight + 2)
            break;
    }
    for (double db = std::ceil(floor / step) * step; db <= top; db += step) {
        const int y = yOf(db);
        painter.setPen(QColor(70, 70, 80));
        painter.drawLine(plot.left(), y, plot.right(), y);
        painter.setPen(QColor(170, 170, 180));
        const int baseline = std::clamp(y + textHeight / 3, textHeight - 2, height() - 2);
        painter.drawText(3, baseline, QString("%1 dBFS").arg(db));
    }
}
