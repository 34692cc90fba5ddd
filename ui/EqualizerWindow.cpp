#include "ui/EqualizerWindow.h"

#include <qcustomplot.h>

#include <QCloseEvent>
#include <QVBoxLayout>

#include <algorithm>

EqualizerWindow::EqualizerWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle("CMA Equalizer Taps");
    equ_plot = new QCustomPlot(this);
    equ_plot->setObjectName("equ_plot");
    // The plot's own layers, named as the window's parts refer to them.
    equ_plot->layer("background")->setMode(QCPLayer::lmBuffered);
    equ_plot->layer("overlay")->setMode(QCPLayer::lmBuffered);
    QCPGraph* graph = equ_plot->addGraph();
    graph->setPen(QPen(curveColour(), 2));
    equ_plot->xAxis->setLabel("Tap");
    equ_plot->yAxis->setLabel("Magnitude / mean");
    equ_plot->xAxis->setRange(0, 16);
    equ_plot->yAxis->setRange(0, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(equ_plot);
    resize(480, 300);
}

void EqualizerWindow::setMagnitudes(const std::vector<double>& magnitudes)
{
    shown = magnitudes;
    QVector<double> x(int(magnitudes.size())), y(int(magnitudes.size()));
    for (int i = 0; i < x.size(); ++i) {
        x[i] = i;
        y[i] = magnitudes[size_t(i)];
    }
    equ_plot->graph(0)->setData(x, y, true);
    equ_plot->xAxis->setRange(0, double(magnitudes.size()));
    // The magnitudes have a mean of 1: the axis reaches a tenth above the
    // largest (8 for each centre tap after a reset), never below 0 … 1.
    double largest = 0;
    for (double m : magnitudes)
        largest = std::max(largest, m);
    equ_plot->yAxis->setRange(0, std::max(1.0, 1.1 * largest));
    equ_plot->replot(QCustomPlot::rpQueuedReplot);
}

void EqualizerWindow::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted() && closed)
        closed();
}
