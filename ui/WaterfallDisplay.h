// The scrolling spectrogram of the "Spectrum View": one averaged spectrum line
// per refresh, newest on top; a left click retunes, a right click (or drag)
// places the demodulation offset; a translucent band marks where the current
// symbol rate sits around that offset, labelled with the service list.
#pragma once

#include "ui/WaterfallImage.h"

#include <QFont>
#include <QStaticText>
#include <QString>
#include <QStringList>
#include <QWidget>

class QPainter;

#include <cstdint>
#include <mutex>
#include <vector>

// A carrier a band scan found, marked along the waterfall's foot.
struct CarrierMark {
    float position = 0;   // its centre, −1 … +1 across the view
    float width = 0;      // its occupied band, in the same units (2: the whole view)
    QString label;        // its rate and, once known, its service
    bool decodes = false;
};

class WaterfallDisplay : public QWidget {
    Q_OBJECT

public:
    explicit WaterfallDisplay(QWidget* parent = nullptr);

    // A line of the averaged spectrum (bin N/2 at zero frequency); a new
    // length rescales the image on this call and draws from the next.
    void addLine(const std::vector<float>& spectrum);

    // What the band is drawn from (any thread).
    void setAnnotations(uint64_t frequency, uint64_t sampleRate, float symbolRate, float rollOff);
    // The service list shown in the band: lines separated by newlines (any thread).
    void setOverlayText(const QString& text, const QStringList& lines);
    QString overlayText() const;
    // 0 hides the band and its text.
    void setOverlayOpacity(double opacity);
    double overlayOpacity() const { return opacity; }
    // −1 … +1 across the view, 0 in the centre.
    float offsetPosition() const { return offset; }
    // The offset as the receiver has it (moved to follow the carrier it
    // found, say), clamped to the view; nothing is signalled back, and a
    // drag in progress keeps the pointer's.
    void setOffsetPosition(float position);

    // The carriers a scan found (owner thread); none: no marks.
    void setCarrierMarks(std::vector<CarrierMark> marks);
    const std::vector<CarrierMark>& carrierMarks() const { return marks; }
    // A mark's left edge and width in pixels for a view `width` wide (at
    // least three pixels wide, so that the narrowest carrier shows).
    static std::pair<int, int> markSpan(int width, const CarrierMark& mark);
    // Where the marks' brackets run, from the foot of a view `height` high.
    static int markLine(int height) { return height - 16; }

    // The band's left edge and width in pixels for a view `width` wide, or
    // an empty range when the sample rate is not known.
    static std::pair<int, int> bandSpan(int width, float offsetPosition, float symbolRate, uint64_t sampleRate);

    const WaterfallImage& lines() const { return waterfall; }

Q_SIGNALS:
    // Positions −1 … +1 across the view.
    void centerFreqChanged(float position);
    void offsetFreqChanged(float position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    float positionOf(int x) const;
    // The lines at the view's width, rows as in the line image: a new line is
    // scaled once, and painting copies pixels without scaling.
    void scaleRowIntoView(int row);
    void rebuildView();
    void scaleAllRows();
    void paintMarks(QPainter& painter);
    // A colour under the band's veil of white at `alpha` (0 … 255).
    static QRgb veiled(QRgb colour, int alpha);

    // The band the view's rows are veiled in: none has span 0.
    struct Veil {
        int left = 0;
        int span = 0;
        int alpha = 0;
        bool operator!=(const Veil& o) const { return left != o.left || span != o.span || alpha != o.alpha; }
    };
    Veil tint;

    WaterfallImage waterfall;
    QImage view;
    QStaticText shownText;   // the overlay text laid out for the band's width
    QFont textFont;
    std::vector<CarrierMark> marks;
    float offset = 0;
    bool dragging = false;
    double opacity = 0.5;

    mutable std::mutex annotationMutex;   // the fields below
    uint64_t deviceFrequency = 0;
    uint64_t deviceSampleRate = 0;
    float symbolRate = 0;
    float rollOff = 0.35f;
    QString text;
    QStringList textLines;
};
