// The waterfall, the spectrum trace and the constellation, each rendered to an
// image and read back pixel by pixel.
#include "demod/Constellation.h"
#include "ui/IQPlot.h"
#include "ui/PowerLevels.h"
#include "ui/TraceDisplay.h"
#include "ui/WaterfallColours.h"
#include "ui/WaterfallDisplay.h"
#include "ui/WaterfallImage.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

QColor at(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y);
}

// A value that lands on colour-table entry k.
float entry(int k)
{
    return (float(k) + 0.5f) / 255.0f;
}

bool near(QColor a, QColor b, int tolerance = 6)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// A waterfall the size of one 1000-bin line, drawn once.
struct Waterfall {
    WaterfallDisplay display;
    Waterfall()
    {
        display.resize(1000, 200);
        display.setAnnotations(742000000, 2000000, 1000000.0f, 0.35f);
    }
    QImage render() { return display.grab().toImage(); }
};

// A spectrum line of `bins` at `noise` dBFS with `band` dBFS over the middle
// `share` of it.
std::vector<double> bandLine(size_t bins, double noise, double band, double share)
{
    std::vector<double> line(bins, noise);
    const size_t width = size_t(double(bins) * share);
    std::fill(line.begin() + long((bins - width) / 2), line.begin() + long((bins + width) / 2), band);
    return line;
}

} // namespace

TEST(WaterfallColours, KnotsAndSaturation)
{
    const std::array<QRgb, 256>& table = waterfallColourTable();
    EXPECT_EQ(table[0], qRgb(0, 0, 0));
    EXPECT_EQ(table[37], qRgb(0, 0, 128));
    EXPECT_EQ(table[74], qRgb(64, 128, 255));
    EXPECT_EQ(table[111], qRgb(255, 255, 128));
    EXPECT_EQ(table[147], qRgb(255, 255, 0));
    EXPECT_EQ(table[219], qRgb(255, 0, 0));
    EXPECT_EQ(table[255], qRgb(255, 255, 255));
    // Between knots, each channel truncated: halfway from 0 to 37 is 18.
    EXPECT_EQ(table[18], qRgb(0, 0, 62));
    // Falling from red toward (64, 0, 0) at 256.
    EXPECT_EQ(table[254], qRgb(int(255 - 191.0 * 35 / 37), 0, 0));

    EXPECT_EQ(waterfallColourIndex(0.0f), 0);
    EXPECT_EQ(waterfallColourIndex(0.999f), 254);
    EXPECT_EQ(waterfallColourIndex(1.0f), 255);
    EXPECT_EQ(waterfallColourIndex(-0.001f), 255);
    EXPECT_EQ(waterfallColourIndex(7.0f), 255);
    EXPECT_EQ(waterfallColourIndex(std::nanf("")), 255);
}

TEST(WaterfallDisplay, DrawsEachValueInItsColourWithSaturationWhite)
{
    Waterfall w;
    w.display.setOverlayOpacity(0);
    std::vector<float> line(1000, entry(37));
    const int knots[] = {0, 37, 74, 111, 147, 219};
    for (int k = 0; k < 6; ++k)
        std::fill(line.begin() + 100 * k, line.begin() + 100 * (k + 1), entry(knots[k]));
    std::fill(line.begin() + 600, line.begin() + 700, 1.0f);
    std::fill(line.begin() + 700, line.begin() + 800, -0.5f);
    w.display.addLine(line);   // the first line of a new length only rescales
    w.display.addLine(line);
    const QImage image = w.render();
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(at(image, 100 * k + 50, 0), QColor(waterfallColourTable()[size_t(knots[k])])) << knots[k];
    EXPECT_EQ(at(image, 650, 0), QColor(Qt::white)) << "1.0 saturates";
    EXPECT_EQ(at(image, 750, 0), QColor(Qt::white)) << "a negative value is white too";
    EXPECT_EQ(at(image, 50, 5), QColor(Qt::black)) << "below the one line: nothing yet";
}

TEST(WaterfallDisplay, NewestLineOnTopAfterTheRingWraps)
{
    Waterfall w;
    w.display.setOverlayOpacity(0);
    const int rows = w.display.lines().image().height();
    std::vector<float> line(1000);
    w.display.addLine(line);   // the first line of a new length only rescales
    // More lines than the ring holds; line k in colour-table entry k mod 200.
    const int total = rows + 5;
    for (int k = 0; k < total; ++k) {
        std::fill(line.begin(), line.end(), entry(k % 200));
        w.display.addLine(line);
    }
    const QImage image = w.render();
    for (int row = 0; row < 6; ++row)
        EXPECT_EQ(at(image, 500, row), QColor(waterfallColourTable()[size_t((total - 1 - row) % 200)])) << row;
}

TEST(WaterfallImage, ANewLineLengthFirstOnlyRescales)
{
    WaterfallImage ring(8, 4);
    ASSERT_TRUE(ring.addLine(std::vector<float>(8, entry(200))));
    const int next = ring.nextRow();
    EXPECT_FALSE(ring.addLine(std::vector<float>(16, entry(40))));
    EXPECT_EQ(ring.image().width(), 16);
    EXPECT_EQ(ring.image().height(), 4);
    EXPECT_EQ(ring.nextRow(), next) << "nothing drawn on the rescaling tick";
    EXPECT_EQ(ring.image().pixel(15, next + 1), waterfallColourTable()[200]) << "the old line is kept, stretched";
    EXPECT_TRUE(ring.addLine(std::vector<float>(16, entry(40))));
    EXPECT_EQ(ring.image().pixel(15, next), waterfallColourTable()[40]);
}

TEST(WaterfallDisplay, OverlayBandSitsAtTheSymbolRateAroundTheOffset)
{
    // 1000 pixels: half-width 500; 1 Msym/s at 2 Msps: half-band 250.
    EXPECT_EQ(WaterfallDisplay::bandSpan(1000, 0.0f, 1e6f, 2000000), std::make_pair(250, 500));
    EXPECT_EQ(WaterfallDisplay::bandSpan(1000, 0.5f, 1e6f, 2000000), std::make_pair(500, 500));
    EXPECT_EQ(WaterfallDisplay::bandSpan(1000, 0.0f, 250000.0f, 2000000), std::make_pair(438, 124));
    EXPECT_EQ(WaterfallDisplay::bandSpan(1000, 0.0f, 1e6f, 0), std::make_pair(0, 0));

    Waterfall w;
    QImage image = w.render();
    // White at half opacity over the black of no lines; dark edges.
    EXPECT_TRUE(near(at(image, 400, 100), QColor(127, 127, 127), 2)) << at(image, 400, 100).name().toStdString();
    EXPECT_EQ(at(image, 200, 100), QColor(Qt::black));
    EXPECT_EQ(at(image, 800, 100), QColor(Qt::black));
    EXPECT_LT(at(image, 250, 100).red(), 60) << "left edge line";
    EXPECT_LT(at(image, 750, 100).red(), 60) << "right edge line";
    EXPECT_GT(at(image, 255, 100).red(), 100);

    w.display.setOverlayOpacity(0.75);
    image = w.render();
    EXPECT_TRUE(near(at(image, 400, 100), QColor(191, 191, 191), 2));

    // Opacity 0: no band, no edges, no text.
    w.display.setOverlayText("0x0001 TAVIREL TEST [ TAVIREL ]\n", {"0x0001 TAVIREL TEST [ TAVIREL ]"});
    w.display.setOverlayOpacity(0);
    image = w.render();
    for (int x = 0; x < 1000; x += 7)
        for (int y = 0; y < 200; y += 3)
            ASSERT_EQ(at(image, x, y), QColor(Qt::black)) << x << "," << y;
}

TEST(WaterfallDisplay, ServiceListIsWrittenBlackWithAWhiteShadowInTheBand)
{
    Waterfall w;
    w.display.setOverlayOpacity(0.5);
    w.display.setOverlayText("0x0001 TAVIREL TEST [ TAVIREL ]\n", {"0x0001 TAVIREL TEST [ TAVIREL ]"});
    const QImage image = w.render();
    int black = 0, white = 0, outside = 0;
    for (int y = 10; y < 40; ++y)
        for (int x = 0; x < 1000; ++x) {
            const QColor c = at(image, x, y);
            const bool inBand = x > 252 && x < 748;
            if (c.red() < 40 && inBand)
                ++black;
            if (c.red() > 230 && inBand)
                ++white;
            if (!inBand && c != QColor(Qt::black) && (x < 245 || x > 755))
                ++outside;
        }
    EXPECT_GT(black, 50) << "the text";
    EXPECT_GT(white, 20) << "its shadow";
    EXPECT_EQ(outside, 0) << "nothing outside the band";
}

TEST(WaterfallDisplay, ClicksRetuneAndPlaceTheOffset)
{
    Waterfall w;
    w.display.setOverlayText("text\n", {"text"});
    QSignalSpy centre(&w.display, &WaterfallDisplay::centerFreqChanged);
    QSignalSpy offset(&w.display, &WaterfallDisplay::offsetFreqChanged);

    QTest::mouseClick(&w.display, Qt::LeftButton, {}, QPoint(750, 50));
    ASSERT_EQ(centre.count(), 1);
    EXPECT_FLOAT_EQ(centre[0][0].toFloat(), 0.5f);
    EXPECT_EQ(w.display.overlayText(), "text\n") << "a left click keeps the text";

    QTest::mousePress(&w.display, Qt::RightButton, {}, QPoint(250, 50));
    EXPECT_FLOAT_EQ(w.display.offsetPosition(), -0.5f);
    EXPECT_TRUE(w.display.overlayText().isEmpty()) << "a right press clears the text";
    QMouseEvent move(QEvent::MouseMove, QPointF(400, 60), Qt::NoButton, Qt::RightButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w.display, &move);
    QTest::mouseRelease(&w.display, Qt::RightButton, {}, QPoint(500, 60));
    ASSERT_EQ(offset.count(), 3);
    EXPECT_FLOAT_EQ(offset[0][0].toFloat(), -0.5f);
    EXPECT_FLOAT_EQ(offset[1][0].toFloat(), -0.2f);
    EXPECT_FLOAT_EQ(offset[2][0].toFloat(), 0.0f);
    EXPECT_FLOAT_EQ(w.display.offsetPosition(), 0.0f);

    // Not dragging any more: a move does nothing.
    QMouseEvent after(QEvent::MouseMove, QPointF(900, 60), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w.display, &after);
    EXPECT_EQ(offset.count(), 3);
}

// The trace above the waterfall takes clicks as the waterfall does, at the
// same place on the frequency axis; its label strip takes none.
TEST(TraceDisplay, ClicksGoOnToTheWaterfallAtTheSamePlace)
{
    Waterfall w;
    TraceDisplay trace;
    trace.resize(TraceDisplay::kLabelWidth + w.display.width(), 100);
    trace.setClickTarget(&w.display);
    QSignalSpy centre(&w.display, &WaterfallDisplay::centerFreqChanged);
    QSignalSpy offset(&w.display, &WaterfallDisplay::offsetFreqChanged);
    const QRect plot = trace.plotArea();

    QTest::mouseClick(&trace, Qt::LeftButton, {}, QPoint(plot.left() + plot.width() * 3 / 4, 50));
    ASSERT_EQ(centre.count(), 1);
    EXPECT_NEAR(centre[0][0].toFloat(), 0.5f, 0.01f);
    QTest::mousePress(&trace, Qt::RightButton, {}, QPoint(plot.left() + plot.width() / 4, 50));
    EXPECT_NEAR(w.display.offsetPosition(), -0.5f, 0.01f);
    QTest::mouseRelease(&trace, Qt::RightButton, {}, QPoint(plot.left() + plot.width() / 2, 50));
    EXPECT_NEAR(w.display.offsetPosition(), 0.0f, 0.01f);
    EXPECT_EQ(offset.count(), 2);

    QTest::mouseClick(&trace, Qt::LeftButton, {}, QPoint(TraceDisplay::kLabelWidth / 2, 50));
    EXPECT_EQ(centre.count(), 1) << "a click on the labels";
}

TEST(PowerLevels, DecibelsRelativeToFullScale)
{
    EXPECT_NEAR(spectrumDbfs(32768.0f), 0.0, 1e-9);
    EXPECT_NEAR(spectrumDbfs(3276.8f), -20.0, 1e-6);
    EXPECT_EQ(spectrumDbfs(0.0f), -200.0);
    EXPECT_EQ(waterfallLevel(spectrumDbfs(0.0f)), 0.0f);
    EXPECT_EQ(waterfallLevel(kWaterfallFloorDbfs), 0.0f);
    EXPECT_EQ(waterfallLevel(kWaterfallTopDbfs), 1.0f);
    EXPECT_NEAR(waterfallLevel((kWaterfallFloorDbfs + kWaterfallTopDbfs) / 2), 0.5f, 1e-6);
    EXPECT_EQ(waterfallColourIndex(waterfallLevel(spectrumDbfs(1e9f))), 255) << "far above full scale: saturation";
}

TEST(TraceDisplay, DrawsTheLevelsAndTheBandBesideItsLabels)
{
    TraceDisplay trace;
    trace.resize(800, 141);
    // −20 dBFS in the middle half, −50 dBFS elsewhere.
    trace.setLevels(bandLine(1600, -50.0, -20.0, 0.5));
    trace.setBand(0.0f, 1e6f, 0.35f, 2000000);
    ASSERT_EQ(trace.levels().size(), 1600u);
    EXPECT_NEAR(trace.levels()[800], -20.0, 1e-9);
    // The range follows: 5 dB below the floor and above the peak, in 5 dB steps.
    EXPECT_EQ(trace.floorDb(), -55.0);
    EXPECT_EQ(trace.topDb(), -15.0);

    const QImage image = trace.grab().toImage();
    const QRect plot = trace.plotArea();
    ASSERT_EQ(plot.left(), TraceDisplay::kLabelWidth);
    auto traceRow = [&](int x) {
        for (int y = 0; y < image.height(); ++y)
            if (near(at(image, x, y), TraceDisplay::traceColour(), 40))
                return y;
        return -1;
    };
    // 40 dB over 140 rows: −20 dBFS at row 17.5, −50 dBFS at row 122.5.
    const int middle = plot.left() + plot.width() / 2;
    EXPECT_NEAR(traceRow(middle), 17, 2);
    EXPECT_NEAR(traceRow(plot.left() + 40), 122, 2);
    // No trace over the labels.
    for (int x = 0; x < TraceDisplay::kLabelWidth; ++x)
        EXPECT_EQ(traceRow(x), -1) << "column " << x;
    // The band: 1 Msym/s of 2 Msps is the middle half of the plot; the skirts beyond.
    const int core = middle - plot.width() / 8, skirt = middle - plot.width() / 4 - 20, outside = plot.left() + 20;
    EXPECT_NE(at(image, core, 130), at(image, outside, 130));
    EXPECT_NE(at(image, core, 130), at(image, skirt, 130)) << "skirt and core differ";
    EXPECT_NE(at(image, skirt, 130), at(image, outside, 130)) << "the skirt is marked";
    EXPECT_EQ(at(image, outside, 130), at(image, plot.right() - 20, 130)) << "outside on both sides alike";

    // Low, the labels thin out rather than run into each other: each run of
    // rows with label text in the strip is one label high at most.
    TraceDisplay lowTrace;
    lowTrace.resize(800, 60);
    lowTrace.setLevels(bandLine(1600, -30.0, -10.0, 0.5));
    ASSERT_EQ(lowTrace.topDb() - lowTrace.floorDb(), 30.0);
    const QImage low = lowTrace.grab().toImage();
    QFont small = lowTrace.font();
    small.setPointSizeF(7);
    const int textHeight = QFontMetrics(small).height();
    int runs = 0, run = 0, longest = 0;
    for (int y = 0; y < low.height(); ++y) {
        bool text = false;
        for (int x = 2; x < TraceDisplay::kLabelWidth - 2 && !text; ++x)
            text = qGray(low.pixel(x, y)) > 100;
        run = text ? run + 1 : 0;
        runs += run == 1;
        longest = std::max(longest, run);
    }
    EXPECT_GE(runs, 2) << "labelled";
    EXPECT_LE(longest, textHeight) << "labels run into each other";
}

// A noise floor far below the old fixed range and a band 10 dB above it:
// both on the plot, the step between them a quarter of its height or more.
TEST(TraceDisplay, TheRangeFollowsTheSignalUnlessFixed)
{
    TraceDisplay trace;
    trace.resize(600, 121);
    trace.setLevels(bandLine(1024, -95.0, -85.0, 0.25));
    EXPECT_EQ(trace.floorDb(), -100.0);
    EXPECT_EQ(trace.topDb(), -80.0);
    // Fixed by the user: as fixed, each side on its own.
    trace.setFixedRange(-60.0, 0.0);
    EXPECT_EQ(trace.floorDb(), -60.0);
    EXPECT_EQ(trace.topDb(), 0.0);
    trace.setFixedRange(NAN, -70.0);
    EXPECT_EQ(trace.floorDb(), -100.0);
    EXPECT_EQ(trace.topDb(), -70.0);
    // Never narrower than 20 dB: a flat line.
    trace.setFixedRange(NAN, NAN);
    trace.setLevels(std::vector<double>(1024, -95.0));
    trace.setLevels(std::vector<double>(512, -40.0));   // another length starts afresh
    EXPECT_EQ(trace.topDb() - trace.floorDb(), 20.0);
    EXPECT_EQ(trace.floorDb(), -45.0);
}

// Lines whose bins jitter by ±3 dB around −60 dBFS (1.7 dB rms): the average
// over time holds the trace to well under half of that.
TEST(TraceDisplay, LinesAreAveragedOverTime)
{
    TraceDisplay trace;
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> jitter(-3.0, 3.0);
    std::vector<double> line(256);
    for (int n = 0; n < 40; ++n) {
        for (double& v : line)
            v = -60.0 + jitter(rng);
        trace.setLevels(line);
    }
    double sum = 0, squares = 0;
    for (double v : trace.levels()) {
        sum += v;
        squares += v * v;
    }
    const double n = double(trace.levels().size());
    const double mean = sum / n;
    EXPECT_LT(std::sqrt(squares / n - mean * mean), 0.8);
    EXPECT_NEAR(mean, -60.0, 1.0);
}

// Under the mouse: the frequency there with each LNB oscillator applied, and
// the level; nothing over the labels.
TEST(TraceDisplay, ReadsOutTheFrequencyAndLevelUnderTheMouse)
{
    TraceDisplay trace;
    trace.resize(800, 100);
    trace.setLevels(bandLine(1000, -50.0, -20.0, 0.1));
    EXPECT_TRUE(trace.readoutAt(400).isEmpty()) << "no tuning yet";
    trace.setTuning(1000e6, 2e6, 9750, 10600);
    const QRect plot = trace.plotArea();
    EXPECT_EQ(trace.readoutAt(plot.left() + plot.width() / 2), "1000.000 MHz (Lo 10750.000, Hi 11600.000) -20.0 dBFS");
    EXPECT_EQ(trace.readoutAt(plot.left()), "999.000 MHz (Lo 10749.000, Hi 11599.000) -50.0 dBFS");
    EXPECT_TRUE(trace.readoutAt(TraceDisplay::kLabelWidth - 1).isEmpty());
}

TEST(IQPlot, SymbolsLandOnTheirPixelsAndFadeInSixTicks)
{
    EXPECT_EQ(IQPlot::pixelOf({1.0f, 0.0f}), QPoint(0, 128)) << "I = 1 wraps to column 0";
    EXPECT_EQ(IQPlot::pixelOf({-1.0f, -1.0f}), QPoint(0, 0));
    EXPECT_EQ(IQPlot::pixelOf({0.5f, -0.25f}), QPoint(192, 96));
    EXPECT_EQ(IQPlot::pixelOf({1.0001f, 0.0f}), QPoint(-1, -1));
    EXPECT_EQ(IQPlot::pixelOf({0.0f, -1.01f}), QPoint(-1, -1));

    IQPlot plot;
    plot.showSymbols({{0.5f, -0.25f}, {1.2f, 0.0f}});
    QImage image = plot.persistence();
    EXPECT_EQ(image.constScanLine(96)[192], 0);
    int hits = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            hits += image.constScanLine(y)[x] == 0;
    EXPECT_EQ(hits, 1) << "the symbol outside the square is not drawn";

    // Each tick with new symbols (elsewhere) brightens by 48: 0 → 255 in six.
    const int expected[] = {48, 96, 144, 192, 240, 255};
    for (int tick = 0; tick < 6; ++tick) {
        plot.fade();
        EXPECT_EQ(plot.persistence().constScanLine(96)[192], expected[tick]) << tick;
        plot.showSymbols({{-0.9f, -0.9f}});
    }
    // Without new symbols a tick changes nothing.
    plot.fade();
    const uchar before = plot.persistence().constScanLine(12)[12];
    plot.fade();
    EXPECT_EQ(plot.persistence().constScanLine(12)[12], before);
}

TEST(IQPlot, PaintsHitsInTheDotColourAxesAndTheIdealPoints)
{
    IQPlot plot;
    plot.setDotColour(QColor(200, 30, 30));
    std::vector<std::complex<float>> cluster;
    for (int k = 0; k < 50; ++k)
        cluster.emplace_back(0.5f + 0.002f * float(k % 7), 0.5f + 0.002f * float(k / 7));
    plot.showSymbols(cluster);
    QImage image = plot.grab().toImage();
    EXPECT_TRUE(near(at(image, 193, 193), QColor(200, 30, 30), 10)) << at(image, 193, 193).name().toStdString();
    const QColor background = at(image, 60, 193);
    EXPECT_EQ(background, plot.palette().color(QPalette::Window)) << "empty places keep the background";
    // The axes darken what they cross (overlay of black).
    EXPECT_LT(at(image, 128, 40).lightness(), background.lightness() - 5) << "the vertical axis";
    EXPECT_LT(at(image, 40, 128).lightness(), background.lightness() - 5) << "the horizontal axis";
    EXPECT_LT(at(image, 128, 193).lightness(), at(image, 120, 193).lightness()) << "also across the hits";
    int green = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            green += at(image, x, y) == QColor(0, 255, 0);
    EXPECT_EQ(green, 0) << "no constellation, no points";

    // QPSK's ideal points at radius 1 land 90.5 pixels out on the diagonals.
    plot.setReference(&constQPSK());
    image = plot.grab().toImage();
    for (const QPoint p : {QPoint(192, 192), QPoint(64, 192), QPoint(64, 64), QPoint(192, 64)}) {
        EXPECT_EQ(at(image, p.x(), p.y()), QColor(0, 255, 0)) << p.x() << "," << p.y();
        EXPECT_EQ(at(image, p.x() + 1, p.y()), QColor(0, 255, 0));
        EXPECT_EQ(at(image, p.x(), p.y() - 1), QColor(0, 255, 0));
        EXPECT_NE(at(image, p.x() + 1, p.y() + 1), QColor(0, 255, 0)) << "a plus, not a square";
    }
    // APSK's at unit mean energy, as the symbols come: 32APSK's outer ring
    // at 1.277, its point on the I axis 115.6 pixels out (not at 90.5).
    plot.setReference(&const32APSK());
    image = plot.grab().toImage();
    EXPECT_EQ(at(image, 244, 128), QColor(0, 255, 0));
    EXPECT_NE(at(image, 219, 128), QColor(0, 255, 0));
}
