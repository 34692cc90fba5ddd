#include "ui/EqualizerWindow.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>

EqualizerTapPlot::EqualizerTapPlot(QWidget* parent)
    : QWidget(parent)
{
    setObjectName("equ_plot");
    setMinimumSize(320, 200);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
}

void EqualizerTapPlot::setMagnitudes(std::vector<double> magnitudes)
{
    shown = std::move(magnitudes);
    update();
}

void EqualizerTapPlot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(8, 8, -8, -8);
    painter.setPen(QPen(Qt::lightGray, 1));
    painter.drawRect(area);
    if (shown.empty())
        return;
    // x: 0 … N taps, y: 0 … 1 (values beyond the axis are clipped).
    const double n = double(shown.size());
    auto at = [&](size_t i) {
        const double y = std::clamp(shown[i], 0.0, 1.0);
        return QPointF(area.left() + area.width() * double(i) / n, area.bottom() - area.height() * y);
    };
    QPainterPath curve(at(0));
    for (size_t i = 1; i < shown.size(); ++i)
        curve.lineTo(at(i));
    painter.setClipRect(area);
    painter.setPen(QPen(curveColour(), 2));
    painter.drawPath(curve);
}

EqualizerWindow::EqualizerWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle("CMA Equalizer Taps");
    equ_plot = new EqualizerTapPlot(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(equ_plot);
    resize(480, 300);
}
