#include "ui/WaterfallDisplay.h"

#include <algorithm>

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
    if (!waterfall.addLine(spectrum)) {
        rebuildView();   // a new line length: the image was rescaled
        return;
    }
    scaleRowIntoView(waterfall.newestRow());
    update();
}

void WaterfallDisplay::resizeEvent(QResizeEvent*)
{
    rebuildView();
}

void WaterfallDisplay::scaleRowIntoView(int row)
{
    const QImage& lines = waterfall.image();
    if (view.isNull() || row >= view.height())
        return;
    const auto* from = reinterpret_cast<const QRgb*>(lines.constScanLine(row));
    auto* to = reinterpret_cast<QRgb*>(view.scanLine(row));
    const int w = view.width();
    const int n = lines.width();
    for (int x = 0; x < w; ++x)
        to[x] = from[int(int64_t(x) * n / w)];
    // The band's white veil, laid on as the row is made rather than over the
    // whole picture at every paint.
    const int end = std::min(w, tint.left + tint.span);
    for (int x = std::max(0, tint.left); x < end; ++x)
        to[x] = veiled(to[x], tint.alpha);
}

QRgb WaterfallDisplay::veiled(QRgb colour, int alpha)
{
    const auto mix = [alpha](int c) { return (255 * alpha + c * (255 - alpha) + 127) / 255; };
    return qRgb(mix(qRed(colour)), mix(qGreen(colour)), mix(qBlue(colour)));
}

void WaterfallDisplay::rebuildView()
{
    scaleAllRows();
    update();
}

void WaterfallDisplay::scaleAllRows()
{
    const QImage& lines = waterfall.image();
    view = QImage(std::max(width(), 1), lines.height(), QImage::Format_RGB32);
    for (int row = 0; row < lines.height(); ++row)
        scaleRowIntoView(row);
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
    uint64_t sampleRate;
    float rate;
    QString overlay;
    {
        std::lock_guard<std::mutex> lock(annotationMutex);
        sampleRate = deviceSampleRate;
        rate = symbolRate;
        overlay = text;
    }
    const auto [left, span] = bandSpan(width(), offset, rate, sampleRate);
    const Veil wanted = sampleRate == 0 || opacity <= 0 ? Veil{} : Veil{left, span, int(std::lround(255 * opacity))};
    if (wanted != tint) {
        tint = wanted;
        scaleAllRows();
    }

    QPainter painter(this);
    // The newest line at the top, older ones below, as far as the view goes.
    const int rows = view.height();
    const int newest = waterfall.newestRow();
    const int upper = std::min(rows - newest, height());
    painter.drawImage(QPoint(0, 0), view, QRect(0, newest, view.width(), upper));
    if (upper < height())
        painter.drawImage(QPoint(0, upper), view, QRect(0, 0, view.width(), std::min(height() - upper, newest)));
    if (rows < height()) {
        painter.fillRect(QRect(0, rows, width(), height() - rows), Qt::black);
        painter.fillRect(QRect(tint.left, rows, tint.span, height() - rows), QColor(veiled(qRgb(0, 0, 0), tint.alpha)));
    }
    paintMarks(painter);
    if (sampleRate == 0 || opacity <= 0)
        return;
    painter.setPen(QPen(QColor(0, 0, 0, 200), 2.5));
    painter.drawLine(QPointF(left, 0), QPointF(left, height()));
    painter.drawLine(QPointF(left + span, 0), QPointF(left + span, height()));

    // The service list in the band: white, then black one pixel lower right,
    // so the black text has a white shadow.
    if (overlay.isEmpty() || span <= 12)
        return;
    // Laid out once per text and band width.
    if (shownText.text() != overlay.toHtmlEscaped().replace('\n', "<br>") || shownText.textWidth() != span - 10) {
        shownText.setTextFormat(Qt::RichText);
        shownText.setText(overlay.toHtmlEscaped().replace('\n', "<br>"));
        shownText.setTextWidth(span - 10);
        shownText.prepare(QTransform(), textFont);
    }
    painter.setFont(textFont);
    painter.setPen(Qt::white);
    painter.drawStaticText(left + 5, 15, shownText);
    painter.setPen(Qt::black);
    painter.drawStaticText(left + 6, 16, shownText);
}

void WaterfallDisplay::setCarrierMarks(std::vector<CarrierMark> wanted)
{
    marks = std::move(wanted);
    update();
}

std::pair<int, int> WaterfallDisplay::markSpan(int width, const CarrierMark& mark)
{
    const double centre = (double(mark.position) + 1.0) * 0.5 * width;
    const double span = std::max(3.0, double(mark.width) * 0.5 * width);
    return {int(std::lround(centre - span / 2)), int(std::lround(span))};
}

// Each carrier: a bracket over its band along the foot, green where it
// decodes and yellow otherwise, its label under it (black with a white
// shadow, as the service list), kept inside the view.
void WaterfallDisplay::paintMarks(QPainter& painter)
{
    if (marks.empty())
        return;
    painter.setFont(textFont);
    const QFontMetrics metrics(textFont);
    const int y = markLine(height());
    for (const CarrierMark& mark : marks) {
        const auto [left, span] = markSpan(width(), mark);
        const QColor colour = mark.decodes ? QColor(40, 220, 40) : QColor(240, 220, 40);
        painter.setPen(QPen(colour, 2));
        painter.drawLine(left, y, left + span, y);
        painter.drawLine(left, y - 5, left, y);
        painter.drawLine(left + span, y - 5, left + span, y);
        if (mark.label.isEmpty())
            continue;
        const int textWidth = metrics.horizontalAdvance(mark.label);
        const int x = std::clamp(left + span / 2 - textWidth / 2, 1, std::max(1, width() - textWidth - 2));
        const int baseline = y + 2 + metrics.ascent();
        painter.setPen(Qt::white);
        painter.drawText(x, baseline, mark.label);
        painter.setPen(Qt::black);
        painter.drawText(x + 1, baseline + 1, mark.label);
    }
}

float WaterfallDisplay::positionOf(int x) const
{
    return float(x) / float(std::max(width(), 1)) * 2.0f - 1.0f;
}

void WaterfallDisplay::setOffsetPosition(float position)
{
    if (dragging || !std::isfinite(position))
        return;
    const float clamped = std::clamp(position, -1.0f, 1.0f);
    if (clamped == offset)
        return;
    offset = clamped;
    update();
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
