#include "ui/WaterfallDisplay.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <cmath>

namespace {

int screenHeight()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? std::max(screen->size().height(), 1) : 1080;
}

} // namespace

WaterfallDisplay::WaterfallDisplay(QWidget* parent)
    : QWidget(parent),
      waterfall(1024, screenHeight()),
      textFont("Courier New", 8)
{
    textFont.setStyleHint(QFont::TypeWriter);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(400, 150);
    setCursor(Qt::CrossCursor);
}

void WaterfallDisplay::addLine(const std::vector<float>& spectrum)
{
    if (waterfall.addLine(spectrum))
        update();
}

void WaterfallDisplay::setAnnotations(uint64_t frequency, uint64_t sampleRate, float rate, float rolloff)
{
    std::lock_guard<std::mutex> lock(annotationMutex);
    deviceFrequency = frequency;
    deviceSampleRate = sampleRate;
    symbolRate = rate;
    rollOff = rolloff;
}

void WaterfallDisplay::setOverlayText(const QString& overlay, const QStringList& lines)
{
    std::lock_guard<std::mutex> lock(annotationMutex);
    text = overlay;
    textLines = lines;
}

QString WaterfallDisplay::overlayText() const
{
    std::lock_guard<std::mutex> lock(annotationMutex);
    return text;
}

void WaterfallDisplay::setOverlayOpacity(double value)
{
    opacity = value;
    update();
}

std::pair<int, int> WaterfallDisplay::bandSpan(int width, float offsetPosition, float rate, uint64_t sampleRate)
{
    if (sampleRate == 0)
        return {0, 0};
    const int half = (width + 1) / 2;
    const int centre = int(float(half) * offsetPosition);
    const int halfBand = int(double(rate) * half / double(sampleRate));
    return {half + centre - halfBand, 2 * halfBand};
}

void WaterfallDisplay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    waterfall.draw(painter, QRect(0, 0, width(), waterfall.image().height()));

    uint64_t sampleRate;
    float rate;
    QString overlay;
    {
        std::lock_guard<std::mutex> lock(annotationMutex);
        sampleRate = deviceSampleRate;
        rate = symbolRate;
        overlay = text;
    }
    if (sampleRate == 0 || opacity <= 0)
        return;
    const auto [left, span] = bandSpan(width(), offset, rate, sampleRate);
    painter.fillRect(QRect(left, 0, span, height()), QColor(255, 255, 255, int(255 * opacity)));
    painter.setPen(QPen(QColor(0, 0, 0, 200), 2.5));
    painter.drawLine(QPointF(left, 0), QPointF(left, height()));
    painter.drawLine(QPointF(left + span, 0), QPointF(left + span, height()));

    // The service list in the band: white, then black one pixel lower right,
    // so the black text has a white shadow.
    if (overlay.isEmpty() || span <= 12)
        return;
    painter.setFont(textFont);
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
    painter.setPen(Qt::white);
    painter.drawText(QRect(left + 5, 15, span - 10, height() - 15), flags, overlay);
    painter.setPen(Qt::black);
    painter.drawText(QRect(left + 6, 16, span - 10, height() - 16), flags, overlay);
}

float WaterfallDisplay::positionOf(int x) const
{
    return float(x) / float(std::max(width(), 1)) * 2.0f - 1.0f;
}

void WaterfallDisplay::mousePressEvent(QMouseEvent* event)
{
    const float d = positionOf(event->pos().x());
    if (event->button() == Qt::LeftButton) {
        {
            std::lock_guard<std::mutex> lock(annotationMutex);
            textLines.clear();
        }
        Q_EMIT centerFreqChanged(d);
    } else if (event->button() == Qt::RightButton) {
        offset = d;
        dragging = true;
        {
            std::lock_guard<std::mutex> lock(annotationMutex);
            textLines.clear();
            text.clear();
        }
        update();
        Q_EMIT offsetFreqChanged(d);
    }
}

void WaterfallDisplay::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging)
        return;
    offset = positionOf(event->pos().x());
    {
        std::lock_guard<std::mutex> lock(annotationMutex);
        textLines.clear();
        text.clear();
    }
    update();
    Q_EMIT offsetFreqChanged(offset);
}

void WaterfallDisplay::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::RightButton)
        return;
    dragging = false;
    offset = positionOf(event->pos().x());
    {
        std::lock_guard<std::mutex> lock(annotationMutex);
        text.clear();
    }
    update();
    Q_EMIT offsetFreqChanged(offset);
}
