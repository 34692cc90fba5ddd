// "CMA Equalizer Taps": the magnitude of every equalizer tap, scaled so that
// their mean is 1, against the tap index (x 0 … N, y 0 … 1).
#pragma once

#include <QColor>
#include <QWidget>

#include <functional>
#include <vector>

class QCustomPlot;

class EqualizerWindow : public QWidget {
public:
    explicit EqualizerWindow(QWidget* parent = nullptr);

    void setMagnitudes(const std::vector<double>& magnitudes);
    // Called when the window is closed from its title bar, so that what
    // showed it can say it is no longer shown.
    void setClosedHandler(std::function<void()> handler) { closed = std::move(handler); }
    const std::vector<double>& magnitudes() const { return shown; }

    // The curve's pen: (0, 128, 255), two pixels wide.
    static QColor curveColour() { return QColor(0, 128, 255); }

    QCustomPlot* equ_plot;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::vector<double> shown;
    std::function<void()> closed;
};
