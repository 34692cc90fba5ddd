// "CMA Equalizer Taps": the magnitude of every equalizer tap, normalised so
// that their mean is 1, plotted against the tap index.
#pragma once

#include <QWidget>

#include <vector>

class EqualizerTapPlot : public QWidget {
public:
    explicit EqualizerTapPlot(QWidget* parent = nullptr);

    void setMagnitudes(std::vector<double> magnitudes);
    const std::vector<double>& magnitudes() const { return shown; }

    // The curve's pen: (0, 128, 255), two pixels wide.
    static QColor curveColour() { return QColor(0, 128, 255); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<double> shown;
};

class EqualizerWindow : public QWidget {
public:
    explicit EqualizerWindow(QWidget* parent = nullptr);

    EqualizerTapPlot* equ_plot;
};
