// The averaged spectrum as a line in dB above the waterfall, with the band the
// symbol rate occupies (and its roll-off skirts) marked around the offset.
// It draws the waterfall's own lines: no second transform.
#pragma once

#include <QPixmap>
#include <QWidget>

#include <array>
#include <cstdint>
#include <vector>

class TraceDisplay : public QWidget {
public:
    explicit TraceDisplay(QWidget* parent = nullptr);

    // A line of the averaged spectrum in dBFS (bin N/2 at zero frequency).
    void setLevels(const std::vector<double>& dbfs);
    // The band: the offset position (−1 … +1), symbol rate, roll-off and
    // device sample rate; a sample rate of 0 draws none.
    void setBand(float offsetPosition, float symbolRate, float rollOff, uint64_t sampleRate);

    // A level as shown: within kFloorDb … kTopDb.
    static double shownDb(double dbfs);
    static constexpr double kFloorDb = -70.0;
    static constexpr double kTopDb = 10.0;

    const std::vector<double>& levels() const { return shown; }
    static QColor traceColour() { return QColor(255, 220, 0); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int yOf(double db) const;
    void drawBackdrop();

    std::vector<double> shown;   // dB
    // Background, band and dB grid with its labels, for the current size and
    // the band it was drawn for.
    QPixmap backdrop;
    std::array<double, 4> backdropBand{};
    float offset = 0;
    float symbolRate = 0;
    float rollOff = 0.35f;
    uint64_t sampleRate = 0;
};
