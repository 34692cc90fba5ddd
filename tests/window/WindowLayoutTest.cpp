// The window on the screens people have: it fits a laptop's 1366×768 with
// every control usable and nothing drawn over anything else, its placement
// is remembered beside config.ini (which stays untouched), and a first run
// opens at a size the screen holds.
#include "WindowFixture.h"

#include "app/WindowPlacement.h"
#include "ui/ScrollablePages.h"
#include "ui/TraceDisplay.h"

#include <QDockWidget>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QScrollArea>
#include <QSettings>
#include <QSpinBox>
#include <QSplitter>

#include <fstream>

#include <sys/stat.h>

namespace {

// The rectangle of `w` in the window's coordinates.
QRect inWindow(const QWidget* w, const QWidget* window)
{
    return QRect(w->mapTo(window, QPoint(0, 0)), w->size());
}

QByteArray contentOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(WindowPlacement, AFirstRunFitsNineTenthsOfTheScreenCentred)
{
    // A laptop: the wanted size shrinks to 90 % of the screen, centred.
    const QRect laptop(0, 0, 1366, 768);
    QRect r = fittingGeometry({1280, 860}, {900, 500}, laptop);
    EXPECT_EQ(r.size(), QSize(1229, 691));
    EXPECT_LE(std::abs(r.center().x() - laptop.center().x()), 1);
    EXPECT_LE(std::abs(r.center().y() - laptop.center().y()), 1);
    // A large screen: the wanted size as it is.
    r = fittingGeometry({1280, 860}, {900, 500}, QRect(0, 0, 1920, 1080));
    EXPECT_EQ(r.size(), QSize(1280, 860));
    // Smaller than the window's minimum: the minimum, its corner on the screen.
    r = fittingGeometry({1280, 860}, {1000, 700}, QRect(100, 50, 1024, 600));
    EXPECT_EQ(r.size(), QSize(1000, 700));
    EXPECT_GE(r.left(), 100);
    EXPECT_EQ(r.top(), 50);
}

// A desktop's title bar and panel take some 50 of a laptop's 768 pixels:
// the window's minimum leaves room for them at 1280×720, and at 1366×700
// the constellation, the source chooser, the Signal panel, the tabs and the
// Spectrum View each have their own place, the Signal rows their full
// height and every page its rows at their full height (scrolling instead).
TEST_F(WindowTest, FitsALaptopScreenWithNothingDrawnOverAnything)
{
    open();
    const QSize minimum = window->minimumSizeHint();
    EXPECT_LE(minimum.width(), 1280);
    EXPECT_LE(minimum.height(), 670);

    window->show();
    window->resize(1366, 700);
    pumpFor(50);
    ASSERT_EQ(window->size(), QSize(1366, 700));

    auto* dock = window->findChild<QDockWidget*>("dock_spectrum");
    ASSERT_NE(dock, nullptr);
    const std::vector<std::pair<const char*, QWidget*>> parts = {{"constellation", ui().widget_iqplot},
                                                                 {"source chooser", ui().box_iqsource},
                                                                 {"Signal panel", ui().grp_info},
                                                                 {"tabs", ui().tabs},
                                                                 {"Spectrum View", dock}};
    const QRect whole = window->rect();
    for (size_t i = 0; i < parts.size(); ++i) {
        const QRect a = inWindow(parts[i].second, window.get());
        EXPECT_TRUE(parts[i].second->isVisible()) << parts[i].first;
        EXPECT_TRUE(whole.contains(a)) << parts[i].first << " leaves the window";
        for (size_t j = i + 1; j < parts.size(); ++j)
            EXPECT_FALSE(a.intersects(inWindow(parts[j].second, window.get())))
                << parts[i].first << " and " << parts[j].first << " overlap";
    }
    EXPECT_EQ(ui().widget_iqplot->size(), QSize(256, 256)) << "square, a pixel per image pixel";
    EXPECT_GE(ui().widget_waterfall->height(), 120);
    for (QLabel* label : ui().grp_info->findChildren<QLabel*>())
        EXPECT_GE(label->height(), label->sizeHint().height()) << label->objectName().toStdString();
    for (int page = 0; page < ui().tabs->count(); ++page) {
        auto* area = qobject_cast<QScrollArea*>(ui().tabs->widget(page));
        ASSERT_NE(area, nullptr) << "page " << page << " scrolls";
        EXPECT_GE(area->widget()->height(), area->widget()->minimumSizeHint().height())
            << ui().tabs->tabText(page).toStdString();
    }
}

// The trace and the waterfall share the frequency axis (the waterfall
// leaves the trace's label strip free), a splitter sets their heights, and
// the Spectrum page fixes the trace's range or lets it follow the signal.
TEST_F(WindowTest, TraceAndWaterfallShareTheirAxisAndTheTraceItsRange)
{
    open();
    window->show();
    window->resize(1366, 700);
    pumpFor(50);
    TraceDisplay* trace = ui().widget_spectrum_trace;
    const QRect plot = trace->plotArea().translated(trace->mapTo(window.get(), QPoint(0, 0)));
    const QRect waterfall = inWindow(ui().widget_waterfall, window.get());
    EXPECT_EQ(waterfall.left(), plot.left());
    EXPECT_EQ(waterfall.width(), plot.width());
    auto* splitter = window->findChild<QSplitter*>("split_spectrum");
    ASSERT_NE(splitter, nullptr);
    EXPECT_TRUE(splitter->isAncestorOf(trace) && splitter->isAncestorOf(ui().widget_waterfall));

    trace->setLevels(std::vector<double>(512, -95.0));
    auto* floorBox = window->findChild<QSpinBox*>("box_trace_floor");
    auto* topBox = window->findChild<QSpinBox*>("box_trace_top");
    ASSERT_NE(floorBox, nullptr);
    ASSERT_NE(topBox, nullptr);
    EXPECT_EQ(floorBox->text(), "Auto");
    EXPECT_EQ(trace->floorDb(), -100.0);
    floorBox->setValue(-120);
    topBox->setValue(-10);
    EXPECT_EQ(trace->floorDb(), -120.0);
    EXPECT_EQ(trace->topDb(), -10.0);
    floorBox->setValue(floorBox->minimum());
    EXPECT_EQ(floorBox->text(), "Auto");
    EXPECT_EQ(trace->floorDb(), -100.0);
}

// Closing keeps the size and the dock state in window.ini; the next window
// opens so. config.ini is only read.
TEST_F(WindowTest, PlacementIsRememberedBesideAnUntouchedConfigIni)
{
    open();
    const QByteArray config = contentOf(path("config.ini"));
    window->show();
    const QSize chosen = window->minimumSizeHint() + QSize(40, 30);
    window->resize(chosen);
    auto* dock = window->findChild<QDockWidget*>("dock_spectrum");
    ASSERT_NE(dock, nullptr);
    dock->setFloating(true);
    pumpFor(50);
    window.reset();
    ASSERT_TRUE(QFile::exists(path(windowPlacementFile())));
    EXPECT_EQ(contentOf(path("config.ini")), config);

    open();
    EXPECT_EQ(window->size(), chosen);
    EXPECT_TRUE(window->findChild<QDockWidget*>("dock_spectrum")->isFloating());
}

// A damaged or foreign window.ini is no placement: the window opens as on
// a first run.
TEST_F(WindowTest, ADamagedPlacementFileOpensAsAFirstRun)
{
    open();
    const QSize first = window->size();
    window.reset();
    for (const char* text : {"\x01\x02garbage\xff", "[window]\ngeometry=@ByteArray(not a geometry)\nstate=1\n"}) {
        std::ofstream(path(windowPlacementFile()).toStdString(), std::ios::binary | std::ios::trunc) << text;
        open();
        EXPECT_EQ(window->size(), first) << text;
        window.reset();
    }
}

// A window.ini that is a named pipe neither holds the start-up nor the
// shutdown: it is left alone.
TEST_F(WindowTest, APlacementFileThatIsAPipeIsLeftAlone)
{
    ASSERT_EQ(mkfifo(path(windowPlacementFile()).toLocal8Bit().constData(), 0600), 0);
    open();
    window->show();
    pumpFor(20);
    window.reset();
    EXPECT_FALSE(QFileInfo(path(windowPlacementFile())).isFile());
}

// The Debug menu's Worker Statistics shows and hides the Workers page too.
TEST_F(WindowTest, WorkerStatisticsHaveTheirOwnPage)
{
    open();
    const int page = tabIndexOf(ui().tabs, ui().tab_workers);
    ASSERT_GE(page, 0);
    EXPECT_TRUE(ui().tab_workers->isAncestorOf(ui().grp_workerstats));
    EXPECT_TRUE(ui().tabs->isTabVisible(page));
    ui().act_debug_workerstats->trigger();
    EXPECT_FALSE(ui().tabs->isTabVisible(page));
    ui().act_debug_workerstats->trigger();
    EXPECT_TRUE(ui().tabs->isTabVisible(page));
}
