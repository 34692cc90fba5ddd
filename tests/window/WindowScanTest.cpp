// The band scan in the window: the carriers dock's rows and tints, the
// waterfall's marks, a click on a row through to lock, and the symbol rate's
// "Auto" choice, on bands the test transmitter composes and sends over TCP.
#include "tests/window/WindowFixture.h"

#include "app/WindowScan.h"
#include "tests/LoopbackServer.h"
#include "tests/TestSupport.h"
#include "ui/ScanDock.h"
#include "ui/WaterfallDisplay.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include <cmath>

namespace {

using testsupport::readFile;

SurveyedCarrier surveyed(double offsetHz, double rate, bool measured = true)
{
    SurveyedCarrier c;
    c.offsetHz = offsetHz;
    c.symbolRate = rate;
    c.rateMeasured = measured;
    c.esn0Db = 9.04;
    return c;
}

// The transmitter's band into a file of s16 samples at 2 Msps.
std::vector<uint8_t> composedBand(const std::string& path, const std::string& carriers, double seconds)
{
    const testsupport::ToolRun tx = testsupport::runTool(
        TAVIREL_SIGGEN, "--band --sample-rate 2000000 --duration " + std::to_string(seconds) + " " + carriers +
                            " --output " + path);
    EXPECT_EQ(tx.exitCode, 0) << tx.err;
    return readFile(path);
}

void connectTo(MainWindow& window, const testsupport::SendOnceServer& server)
{
    TcpInputSettings input;
    input.port = server.port;
    input.bandwidthMHz = 2.0;
    window.connectTcp(input);
}

QColor background(QTableWidget* table, int row)
{
    return table->item(row, 0)->background().color();
}

} // namespace

// What a row says for each state a carrier can be in, and how it is tinted.
TEST(ScanRows, EachStateReadsAndIsTintedAsItIs)
{
    ScannedCarrier waiting;
    waiting.surveyed = surveyed(-250000, 125000, false);
    ScanRow row = scanRow(waiting, 1280.5e6, false, {9750e6});
    EXPECT_EQ(row.frequency, "1280.2500");
    EXPECT_EQ(row.symbolRate, "125.000 ?") << "a rate from the width is marked";
    EXPECT_EQ(row.esn0, "9.0");
    EXPECT_EQ(row.state, ScanRow::State::NotVisited);
    EXPECT_TRUE(row.toolTip.contains("Behind an LNB of 9750 MHz: 11030.2500 MHz")) << row.toolTip.toStdString();
    EXPECT_EQ(scanRow(waiting, std::nullopt, false).frequency, "-0.2500") << "no frequency: the offset";
    EXPECT_EQ(scanRow(waiting, std::nullopt, true).state, ScanRow::State::Visiting);

    ScannedCarrier silent = waiting;
    silent.identity = CarrierIdentity();
    EXPECT_EQ(scanRow(silent, std::nullopt, false).state, ScanRow::State::Silent);

    ScannedCarrier heard;
    heard.surveyed = surveyed(400000, 250000);
    CarrierIdentity id;
    id.decoded = true;
    id.standard = Standard::DvbS;
    id.modcod = "3/4";
    id.offsetHz = 400321;
    id.merDb = 11.26;
    id.services = {"0x0001 ALPHA [ TAVIREL ]", "0x0002 BETA [ TAVIREL ]"};
    heard.identity = id;
    row = scanRow(heard, 1000e6, false);
    EXPECT_EQ(row.frequency, "1000.4003") << "where the loop held it";
    EXPECT_EQ(row.signal, "DVB-S 3/4");
    EXPECT_EQ(row.mer, "11.3");
    EXPECT_EQ(row.services, "ALPHA, BETA") << "the names, the whole lines in the tool tip";
    EXPECT_TRUE(row.toolTip.contains("0x0002 BETA [ TAVIREL ]")) << row.toolTip.toStdString();
    EXPECT_EQ(row.state, ScanRow::State::Decodes);

    // The waterfall's mark: centred on the carrier, its band wide, the rate
    // and the first service's name.
    const CarrierMark mark = carrierMark(heard, 2e6);
    EXPECT_NEAR(mark.position, 0.400321, 1e-6);
    EXPECT_NEAR(mark.width, 2 * 250000 * 1.35 / 2e6, 1e-6);
    EXPECT_EQ(mark.label, "250k ALPHA");
    EXPECT_TRUE(mark.decodes);
    EXPECT_NEAR(carrierMark(heard, 2e6, -100000).position, 0.300321, 1e-6) << "the radio tuned 100 kHz up since";
    EXPECT_EQ(carrierMark(waiting, 2e6).label, "125k");

    ScanDock dock;
    dock.setRows({scanRow(waiting, std::nullopt, false), scanRow(silent, std::nullopt, false), row});
    QTableWidget* table = dock.table();
    ASSERT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->item(2, 5)->text(), row.services);
    EXPECT_EQ(table->item(0, 0)->background().style(), Qt::NoBrush) << "no tint: the style's own";
    EXPECT_EQ(background(table, 1), ScanDock::tint(ScanRow::State::Silent));
    EXPECT_EQ(background(table, 2), ScanDock::tint(ScanRow::State::Decodes));
    EXPECT_GT(ScanDock::tint(ScanRow::State::Decodes).green(), ScanDock::tint(ScanRow::State::Decodes).red());
    EXPECT_GT(ScanDock::tint(ScanRow::State::Silent).red(), ScanDock::tint(ScanRow::State::Silent).green());

    // A click on a row asks for its carrier; the button starts and stops.
    dock.resize(700, 300);
    dock.show();
    QSignalSpy chosen(&dock, &ScanDock::carrierChosen);
    const QRect cell = table->visualItemRect(table->item(1, 2));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.at(0).at(0).toInt(), 1);
    QSignalSpy scan(&dock, &ScanDock::scanRequested), stop(&dock, &ScanDock::stopRequested);
    dock.scanButton()->click();
    dock.setScanning(true);
    EXPECT_EQ(dock.scanButton()->text(), "Stop");
    dock.scanButton()->click();
    EXPECT_EQ(scan.count(), 1);
    EXPECT_EQ(stop.count(), 1);
}

// Marks along the waterfall's foot: a bracket over each carrier's band,
// green where it decodes, yellow where not, its label under it.
TEST(WaterfallDisplay, CarriersFoundAreMarkedAlongTheFoot)
{
    WaterfallDisplay display;
    display.resize(1000, 200);
    CarrierMark decoding;
    decoding.position = -0.5f;
    decoding.width = 0.2f;
    decoding.label = "250k ALPHA";
    decoding.decodes = true;
    CarrierMark unknown;
    unknown.position = 0.5f;
    unknown.width = 0.001f;
    EXPECT_EQ(WaterfallDisplay::markSpan(1000, decoding), std::make_pair(200, 100));
    EXPECT_EQ(WaterfallDisplay::markSpan(1000, unknown).second, 3) << "the narrowest still shows";
    display.setCarrierMarks({decoding, unknown});
    const QImage image = display.grab().toImage();
    const int y = WaterfallDisplay::markLine(200);
    auto green = [](QColor c) { return c.green() > 180 && c.red() < 100 && c.blue() < 100; };
    auto yellow = [](QColor c) { return c.green() > 180 && c.red() > 180 && c.blue() < 100; };
    EXPECT_TRUE(green(image.pixelColor(250, y))) << image.pixelColor(250, y).name().toStdString();
    EXPECT_TRUE(yellow(image.pixelColor(750, y))) << image.pixelColor(750, y).name().toStdString();
    EXPECT_EQ(image.pixelColor(500, y), QColor(Qt::black)) << "nothing between them";
    // The label: light and dark text pixels under the green bracket.
    int lit = 0;
    for (int x = 200; x < 300; ++x)
        for (int row = y + 2; row < 200; ++row)
            lit += image.pixelColor(x, row).lightness() > 200 ? 1 : 0;
    EXPECT_GT(lit, 20);
    display.setCarrierMarks({});
    EXPECT_EQ(display.grab().toImage().pixelColor(250, y), QColor(Qt::black));
}

// Scan pressed on a band of two DVB-S2 carriers: both listed, measured and
// decoded (green, with their services), marked on the waterfall, and a
// click on the second tunes the receiver to it until it locks.
TEST_F(WindowTest, ScanListsTheBandAndAClickedCarrierLocks)
{
    const std::vector<uint8_t> band =
        composedBand(path("band.iq").toStdString(),
                     "--carrier 'symbol-rate=250000;offset=-450000;modcod=QPSK 1/2;esn0=9;service=ALPHA' "
                     "--carrier 'symbol-rate=400000;offset=350000;modcod=8PSK 3/5;esn0=13;service=BRAVO'",
                     16);
    ASSERT_GT(band.size(), 100000000u);
    open();
    window->show();
    ScanDock* dock = window->scanDock();
    ASSERT_NE(dock, nullptr);
    EXPECT_FALSE(dock->isVisible()) << "shown when asked for";
    EXPECT_EQ(dock->statusLabel()->text(), "Connect an input to scan its band");
    EXPECT_FALSE(dock->scanButton()->isEnabled());
    // "Scan" on the menu bar, before Help.
    QAction* scan = window->scanAction();
    ASSERT_NE(scan, nullptr);
    EXPECT_EQ(scan->text(), "&Scan");
    EXPECT_TRUE(window->menuBar()->actions().contains(scan));

    testsupport::SendOnceServer server(band);
    connectTo(*window, server);
    ASSERT_NE(window->currentDevice(), nullptr);
    EXPECT_TRUE(dock->scanButton()->isEnabled());
    const int32_t rateBefore = window->receiverSettings().symbolRate;
    scan->trigger();
    EXPECT_TRUE(dock->isVisible());
    EXPECT_TRUE(window->bandScan()->scanning());
    EXPECT_EQ(dock->scanButton()->text(), "Stop");

    ASSERT_TRUE(pumpUntil([&] { return !window->bandScan()->scanning(); }, 120000))
        << dock->statusLabel()->text().toStdString();
    ASSERT_NE(window->currentDevice(), nullptr) << "the scan ended before the signal did";
    EXPECT_EQ(window->receiverSettings().symbolRate, rateBefore) << "back to the tuning from before";
    EXPECT_EQ(ui().sld_srate->value(), rateBefore);

    const std::vector<ScannedCarrier>& carriers = window->bandScan()->carriers();
    ASSERT_EQ(carriers.size(), 2u) << dock->statusLabel()->text().toStdString();
    const char* names[] = {"ALPHA", "BRAVO"};
    const double rates[] = {250000, 400000}, offsets[] = {-450000, 350000};
    QTableWidget* table = dock->table();
    ASSERT_EQ(table->rowCount(), 2);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(names[i]);
        const ScannedCarrier& c = carriers[size_t(i)];
        EXPECT_TRUE(c.decodes());
        EXPECT_NEAR(c.surveyed.symbolRate, rates[i], 0.001 * rates[i]);
        EXPECT_NEAR(c.offsetHz(), offsets[i], 0.01 * rates[i]);
        EXPECT_EQ(table->item(i, 5)->text(), names[i]);
        EXPECT_EQ(background(table, i), ScanDock::tint(ScanRow::State::Decodes));
    }
    EXPECT_EQ(table->item(0, 3)->text(), "DVB-S2 QPSK 1/2");
    EXPECT_EQ(table->item(1, 3)->text(), "DVB-S2 8PSK 3/5");
    EXPECT_EQ(dock->statusLabel()->text(), "2 carriers, 2 decode: click one to receive it");
    const std::vector<CarrierMark>& marks = ui().widget_waterfall->carrierMarks();
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_EQ(marks[1].label, "400k BRAVO");
    EXPECT_TRUE(window->bandScan()->watching()) << "the band is watched from now on";

    // The second row clicked: the receiver on its rate and centre, the
    // controls showing it, and the lock on its MODCOD.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(1, 0)).center());
    EXPECT_NEAR(window->receiverSettings().symbolRate, 400000, 400);
    EXPECT_NEAR(window->receiverSettings().offsetHz, 350000, 4000);
    EXPECT_EQ(ui().box_srate->value(), 400) << "the rate to the nearest ksym/s";
    EXPECT_EQ(ui().sld_srate->value(), window->receiverSettings().symbolRate);
    EXPECT_TRUE(pumpUntil([&] { return ui().lbl_modcode->text() == "Modcode: 8PSK 3/5"; }, 60000))
        << ui().lbl_modcode->text().toStdString();

    // The radio tuned 100 kHz up: the carriers stay where they were, so the
    // marks move 100 kHz down the view.
    const float before = ui().widget_waterfall->carrierMarks()[1].position;
    ui().sld_freq->setValue(ui().sld_freq->value() + 100);
    EXPECT_TRUE(pumpUntil([&] { return std::fabs(ui().widget_waterfall->carrierMarks()[1].position - (before - 0.1f)) < 1e-4f; },
                          2000));
}

// "Auto" beside the symbol rate: the rate of the carrier the receiver is
// tuned to is measured, shown in the controls, and the receiver locks; a
// rate set by hand ends it.
TEST_F(WindowTest, SymbolRateAutoMeasuresTheTunedCarrierAndLocks)
{
    const std::vector<uint8_t> band = composedBand(
        path("one.iq").toStdString(), "--carrier 'symbol-rate=333000;offset=0;modcod=QPSK 1/2;esn0=6;service=ONE'", 8);
    open();
    window->show();
    QCheckBox* autoBox = window->symbolRateAutoBox();
    ASSERT_NE(autoBox, nullptr);
    EXPECT_EQ(autoBox->text(), "Auto");
    autoBox->click();
    EXPECT_FALSE(window->measuringSymbolRate()) << "nothing to measure without an input";
    testsupport::SendOnceServer server(band);
    connectTo(*window, server);
    ASSERT_NE(window->currentDevice(), nullptr);
    EXPECT_TRUE(window->measuringSymbolRate());
    ASSERT_TRUE(pumpUntil([&] { return std::abs(ui().sld_srate->value() - 333000) < 333; }, 60000))
        << ui().sld_srate->value();
    EXPECT_EQ(ui().box_srate->value(), 333);
    EXPECT_TRUE(pumpUntil([&] { return ui().lbl_modcode->text() == "Modcode: QPSK 1/2"; }, 60000))
        << ui().lbl_modcode->text().toStdString();
    EXPECT_TRUE(autoBox->isChecked());
    // A rate given by hand takes over.
    ui().box_srate->setValue(500);
    EXPECT_FALSE(autoBox->isChecked());
    EXPECT_FALSE(window->measuringSymbolRate());
}
