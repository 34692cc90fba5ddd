// "Debug Window": development plots beside the receiver, in two columns.
// Left: the fine carrier loop's frequency and the timing loop's symbol-rate
// offset over the last minute, which show whether the loops settle. Right:
// the soft values of the last DVB-S2 frame (their spread shows the decoder's
// margin) and the frame-lock counter over time. Above them the symbols the
// constellation shows, and where a requested XFECFRAME dump goes.
#pragma once

#include <QWidget>

#include <array>
#include <cstdint>

class QCPGraph;
class QCustomPlot;
class QComboBox;
class QLabel;
class QVBoxLayout;

class DebugWindow : public QWidget {
    Q_OBJECT

public:
    explicit DebugWindow(QWidget* parent = nullptr);

    // A dump of the next XFECFRAME was requested; it is written under `folder`.
    void frameDumpRequested(const QString& folder);

    // One point of each time plot at `seconds`; the plots redraw every fifth call.
    void addLoopSample(double seconds, double carrierHz, double symbolRatePpm, int lockCounter);
    // Counts of the soft values −128 … 127 of the last frame.
    void setSoftValues(const std::array<uint32_t, 256>& counts);

    QVBoxLayout* vl_left;
    QVBoxLayout* vl_right;
    QComboBox* iqSource;

    static constexpr double kSpanSeconds = 60;

Q_SIGNALS:
    // The constellation source chosen here (the main window's selector's indices).
    void iq_selection_changed(int index);

private:
    QCustomPlot* timePlot(const QString& label);

    QLabel* dumpStatus;
    QCustomPlot* carrierPlot;
    QCustomPlot* timingPlot;
    QCustomPlot* softPlot;
    QCustomPlot* lockPlot;
    int samples = 0;
};
