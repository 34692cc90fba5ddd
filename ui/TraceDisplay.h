// The averaged spectrum as a line in dB above the waterfall, with the band the
// symbol rate occupies (and its roll-off skirts) marked around the offset.
// It draws the waterfall's own lines: no second transform.
//
// The lines are averaged once more over time (in power), so that a band a few
// dB above the noise shows its shape rather than the bins' jitter. The dB
// range follows the signal (5 dB below the noise floor to 5 dB above the
// highest level, in steps of 5 dB), or stays where the user fixes it. Its
// labels have a strip of their own on the left; the waterfall below leaves
// the same strip free, so that both share the frequency axis. Under the
// mouse it reads out the frequency (with the LNB's oscillators applied) and
// the level there.
#pragma once

#include <QPixmap>
#include <QWidget>

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

class TraceDisplay : public QWidget {
public:
    // Pixels on the left for the dB labels.
    static constexpr int kLabelWidth = 58;
    // The share of each new line in the time average (in power).
    static constexpr double kAveraging = 0.25;
    // The automatic range: this far beyond the noise floor and the peak, in
    // steps of kRangeStep, at least kMinimumSpan.
    static constexpr double kRangeMargin = 5.0;
    static constexpr double kRangeStep = 5.0;
    static constexpr double kMinimumSpan = 20.0;
    // Levels are kept within these bounds.
    static constexpr double kLowestDb = -150.0;
    static constexpr double kHighestDb = 20.0;

    explicit TraceDisplay(QWidget* parent = nullptr);

    // A line of the averaged spectrum in dBFS (bin N/2 at zero frequency).
    // A line of another length starts the average afresh.
    void setLevels(const std::vector<double>& dbfs);
    // The band: the offset position (−1 … +1), symbol rate, roll-off and
    // device sample rate; a sample rate of 0 draws none.
    void setBand(float offsetPosition, float symbolRate, float rollOff, uint64_t sampleRate);
    // What the readout needs: the radio's frequency and sample rate (Hz),
    // and the LNB's oscillators (MHz) added for the "Lo" and "Hi" bands.
    void setTuning(double centreHz, double sampleRateHz, double lo0MHz, double lo1MHz);
    // Clicks and drags on the plot go on to `target` (the waterfall below,
    // which shares the frequency axis), at the same position across it.
    void setClickTarget(QWidget* target) { clickTarget = target; }
    // The range's floor and top in dBFS; NaN: follow the signal.
    void setFixedRange(double floorDb, double topDb);

    // The time-averaged levels shown (dBFS), and the range in use.
    const std::vector<double>& levels() const { return shown; }
    double floorDb() const { return floor; }
    double topDb() const { return top; }
    // The readout for the plot column x (widget coordinates); empty outside
    // the plot or without levels or tuning.
    QString readoutAt(int x) const;
    // The plot's columns: from kLabelWidth to the right edge.
    QRect plotArea() const;

    static QColor traceColour() { return QColor(255, 220, 0); }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int yOf(double db) const;
    void drawBackdrop();
    void followRange();
    void forward(QMouseEvent* event);

    std::vector<double> power;   // the time average, linear
    std::vector<double> shown;   // ... in dB
    double floor = -70.0;
    double top = 10.0;
    double fixedFloor = NAN;
    double fixedTop = NAN;
    // Background, band and dB grid with its labels, for the current size,
    // band and range.
    QPixmap backdrop;
    std::array<double, 6> backdropFor{};
    float offset = 0;
    float symbolRate = 0;
    float rollOff = 0.35f;
    uint64_t sampleRate = 0;
    double centre = 0;
    double tuningRate = 0;
    double lo0 = 0;
    double lo1 = 0;
    int mouseX = -1;
    QWidget* clickTarget = nullptr;
};
