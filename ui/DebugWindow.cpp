#include "ui/DebugWindow.h"

#include <qcustomplot.h>

#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

DebugWindow::DebugWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle("Debug Window");
    auto* outer = new QVBoxLayout(this);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("Constellation shows:", this));
    iqSource = new QComboBox(this);
    iqSource->addItems({"All symbols", "SLOTS", "SOF / PLS", "PILOTS"});
    top->addWidget(iqSource);
    dumpStatus = new QLabel("No XFECFRAME dump requested.", this);
    dumpStatus->setWordWrap(true);
    top->addWidget(dumpStatus, 1);
    outer->addLayout(top);
    connect(iqSource, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &DebugWindow::iq_selection_changed);

    auto* columns = new QHBoxLayout;
    vl_left = new QVBoxLayout;
    vl_right = new QVBoxLayout;
    vl_left->setObjectName("vl_left");
    vl_right->setObjectName("vl_right");
    columns->addLayout(vl_left);
    columns->addLayout(vl_right);
    outer->addLayout(columns, 1);

    carrierPlot = timePlot("Carrier loop frequency (Hz)");
    timingPlot = timePlot("Symbol rate offset (ppm)");
    vl_left->addWidget(carrierPlot);
    vl_left->addWidget(timingPlot);

    softPlot = new QCustomPlot(this);
    auto* bars = new QCPBars(softPlot->xAxis, softPlot->yAxis);
    bars->setWidth(1);
    bars->setPen(Qt::NoPen);
    bars->setBrush(QColor(0, 128, 255));
    softPlot->xAxis->setLabel("Soft value of the last frame");
    softPlot->xAxis->setRange(-128, 128);
    softPlot->yAxis->setLabel("Count");
    vl_right->addWidget(softPlot);
    lockPlot = timePlot("Frame lock counter");
    lockPlot->yAxis->setRange(0, 33);
    vl_right->addWidget(lockPlot);
    resize(900, 560);
}

QCustomPlot* DebugWindow::timePlot(const QString& label)
{
    auto* plot = new QCustomPlot(this);
    plot->addGraph()->setPen(QPen(QColor(0, 128, 255), 1.5));
    plot->xAxis->setLabel("Seconds");
    plot->yAxis->setLabel(label);
    plot->setMinimumSize(380, 200);
    return plot;
}

void DebugWindow::frameDumpRequested(const QString& folder)
{
    dumpStatus->setText(QString("The next XFECFRAME is written to %1/xfecframe.<n>.")
                            .arg(QDir::toNativeSeparators(QDir(folder).absolutePath())));
}

void DebugWindow::addLoopSample(double seconds, double carrierHz, double symbolRatePpm, int lockCounter)
{
    const double start = seconds - kSpanSeconds;
    const std::pair<QCustomPlot*, double> points[] = {
        {carrierPlot, carrierHz}, {timingPlot, symbolRatePpm}, {lockPlot, double(lockCounter)}};
    for (const auto& [plot, value] : points) {
        QCPGraph* graph = plot->graph(0);
        graph->addData(seconds, value);
        graph->data()->removeBefore(start);
        plot->xAxis->setRange(start, seconds);
    }
    if (++samples % 5 != 0)
        return;
    carrierPlot->yAxis->rescale();
    timingPlot->yAxis->rescale();
    for (QCustomPlot* plot : {carrierPlot, timingPlot, lockPlot})
        plot->replot(QCustomPlot::rpQueuedReplot);
}

void DebugWindow::setSoftValues(const std::array<uint32_t, 256>& counts)
{
    QVector<double> keys(256), values(256);
    for (int i = 0; i < 256; ++i) {
        keys[i] = i - 128;
        values[i] = counts[size_t(i)];
    }
    auto* bars = qobject_cast<QCPBars*>(softPlot->plottable(0));
    bars->setData(keys, values, true);
    softPlot->yAxis->rescale();
    softPlot->replot(QCustomPlot::rpQueuedReplot);
}
