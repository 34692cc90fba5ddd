// The whole window receiving the test transmitter over TCP: lock and MODCOD
// shown, the transport stream at a UDP socket, and nothing lost to the window
// (the same stream as the headless receiver decodes from the same samples).
#include "tests/window/WindowFixture.h"

#include "app/StatusText.h"
#include "stream/TsContinuity.h"
#include "tests/LoopbackServer.h"
#include "tests/TestSupport.h"
#include "ui/IQPlot.h"
#include "ui/WaterfallDisplay.h"

#include <QImage>
#include <QProgressBar>
#include <QUdpSocket>

#include <cmath>

namespace {

using testsupport::readFile;

int greenPixels(const QImage& image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.green() > 120 && c.red() < 90 && c.blue() < 90)
                ++n;
        }
    return n;
}

// Connects `window` to `server` as a TCP input of 2 MHz bandwidth.
void connectTo(MainWindow& window, const testsupport::SendOnceServer& server)
{
    TcpInputSettings input;
    input.port = server.port;
    input.bandwidthMHz = 2.0;
    window.connectTcp(input);
}

} // namespace

TEST_F(WindowTest, ReceivesTheTestTransmitterOverTcp)
{
    // Three seconds of DVB-S2 QPSK 1/2 with pilots at 1 Msym/s, 2 Msps s16,
    // then a block of silence that pushes the last samples through.
    const std::string iq = path("signal.iq").toStdString();
    const testsupport::ToolRun tx = testsupport::runTool(
        TAVIREL_SIGGEN, "--modcod \"QPSK 1/2\" --pilots on --esn0 10 --duration 3 --output " + iq);
    ASSERT_EQ(tx.exitCode, 0) << tx.err;
    std::vector<uint8_t> samples = readFile(iq);
    ASSERT_GT(samples.size(), 20000000u);
    samples.resize(samples.size() + 4 * 16384, 0);
    {
        std::ofstream(iq, std::ios::binary).write(reinterpret_cast<const char*>(samples.data()), long(samples.size()));
    }

    QUdpSocket udp;
    ASSERT_TRUE(udp.bind(QHostAddress(QHostAddress::LocalHost), 0));
    udp.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 8 << 20);
    open("conf_ldpc_threads=2\nip_out_mode=1\nip_out_addr=127.0.0.1\nip_out_port=" + std::to_string(udp.localPort()) +
         "\n");
    window->show();
    ASSERT_TRUE(window->startRecording(RecordType::TransportStream, path("window.ts")));

    std::vector<uint8_t> datagrams;
    size_t oddDatagrams = 0;
    auto takeDatagrams = [&] {
        while (udp.hasPendingDatagrams()) {
            QByteArray d(int(udp.pendingDatagramSize()), 0);
            udp.readDatagram(d.data(), d.size());
            if (d.size() != 1316)
                ++oddDatagrams;
            datagrams.insert(datagrams.end(), d.begin(), d.end());
        }
    };

    testsupport::SendOnceServer server(samples);
    connectTo(*window, server);
    ASSERT_NE(window->currentDevice(), nullptr);

    // While the samples flow: the sync label turns green and the labels read
    // the transmitted MODCOD.
    bool lockShown = false;
    int green = 0;
    QString merShown, esn0Shown, demodRowDetail, carrierShown;
    pumpUntil(
        [&] {
            takeDatagrams();
            if (lockShown)
                carrierShown = window->findChild<QLabel*>("lbl_carrier")->text();
            if (lockShown && !ui().lbl_snr->text().startsWith("MER: -")) {
                merShown = ui().lbl_snr->text();
                esn0Shown = ui().lbl_snr->toolTip();
                for (QLabel* detail : ui().grp_workerstats->findChildren<QLabel*>("worker_detail"))
                    if (!detail->text().isEmpty())
                        demodRowDetail = detail->text();
            }
            if (!lockShown && ui().sync_confidence->palette().color(QPalette::WindowText) == QColor(0, 192, 0) &&
                ui().lbl_modcode->text() == "Modcode: QPSK 1/2") {
                lockShown = true;
                EXPECT_EQ(ui().lbl_pilots->text(), "Pilot symbols: on");
                EXPECT_EQ(ui().lbl_frametype->text(), "Frame type: long");
                green = greenPixels(ui().sync_confidence->grab().toImage());
            }
            return window->currentDevice() == nullptr;   // the server hung up
        },
        240000);
    ASSERT_EQ(window->currentDevice(), nullptr) << "the server's end disconnects the device";
    EXPECT_TRUE(lockShown);
    EXPECT_GT(green, 20) << "the label is drawn in green";
    // The carrier was sent on the radio's frequency: the loop holds it there
    // (0.2 kHz is 0.02 % of the symbol rate; at the lock it is still
    // settling, up to 0.5 kHz off).
    ASSERT_TRUE(carrierShown.startsWith("Carrier: ") && carrierShown.endsWith(" kHz")) << carrierShown.toStdString();
    EXPECT_LE(std::fabs(carrierShown.mid(9, carrierShown.size() - 13).toDouble()), 0.2) << carrierShown.toStdString();
    // The signal went out at Es/N0 10 dB: the label's tooltip reads it. The
    // MER counts whatever else spreads the constellation too (the loops'
    // jitter), so it reads no higher; the demodulator's statistics row shows
    // the same.
    ASSERT_TRUE(merShown.startsWith("MER: ") && merShown.endsWith(" dB")) << merShown.toStdString();
    ASSERT_TRUE(esn0Shown.startsWith("Es/N0: ") && esn0Shown.endsWith(" dB")) << esn0Shown.toStdString();
    const double esn0 = esn0Shown.mid(7, esn0Shown.size() - 10).toDouble();
    const double mer = merShown.mid(5, merShown.size() - 8).toDouble();
    EXPECT_NEAR(esn0, 10.0, 0.5) << esn0Shown.toStdString();
    EXPECT_GT(mer, 1.0);
    EXPECT_LT(mer, esn0 + 0.3);
    EXPECT_EQ(demodRowDetail, "MER " + merShown.mid(5));

    // What is still in the chain comes out, then the recording is closed.
    // A slow chain (under the sanitizers) still holds seconds of stream
    // here: the window neither waits for it nor cuts it off, and the
    // datagrams are read meanwhile, which a socket's buffer may not hold.
    ASSERT_TRUE(pumpUntil(
        [&] {
            takeDatagrams();
            return !window->sinks().recording().isOpen();
        },
        60000));
    EXPECT_TRUE(chain().waitIdle(std::chrono::milliseconds(0)));
    // The errors label follows the chain's counts (a clean signal: nothing
    // for BCH to do after the first frames).
    DecodingErrors counts;
    counts.bchCorrectedBits = chain().bchCorrectedBits();
    counts.bchFailures = chain().bchFailures();
    counts.packetCrcFailures = chain().packetCrcFailures();
    counts.packetsFromFailedFrames = chain().packetsFromFailedFrames();
    const QString expectedErrors = decodingErrorsText(true, counts);
    pumpUntil([&] { return ui().lbl_errors->text() == expectedErrors; }, 5000);
    EXPECT_EQ(ui().lbl_errors->text(), expectedErrors);
    EXPECT_LE(counts.bchFailures, 1u);
    EXPECT_TRUE(ui().lbl_errors->toolTip().contains(
        QString("Packets marked, from failed frames: %1").arg(counts.packetsFromFailedFrames)))
        << ui().lbl_errors->toolTip().toStdString();
    const std::vector<uint8_t> ts = readFile(path("window.ts").toStdString());
    pumpUntil(
        [&] {
            takeDatagrams();
            return datagrams.size() >= ts.size();
        },
        20000);
    EXPECT_EQ(chain().droppedBlocks(), 0u);

    TsContinuity continuity;
    continuity.addPackets(ts.data(), ts.size());
    EXPECT_GT(continuity.packets(), 1500u);
    EXPECT_EQ(continuity.totalErrors(), 0u);
    EXPECT_EQ(datagrams, ts) << "the UDP output carries what the recording got";
    EXPECT_EQ(oddDatagrams, 0u);

    // The headless receiver, which starts from the same settings, decodes
    // the very same packets from the same samples.
    const std::string cliTs = path("cli.ts").toStdString();
    const testsupport::ToolRun cli = testsupport::runTool(
        TAVIREL_CLI, "--input file:" + iq + " --format s16 --sample-rate 2000000 --status-interval 0 --output file:" +
                         cliTs);
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    EXPECT_EQ(readFile(cliTs), ts);
}

namespace {

// Fraction of the constellation's hit pixels within `radius` of each of
// `points` (pixel positions), and of all hits near none of them.
struct Clusters {
    std::vector<double> share;
    double stray = 0;
};

Clusters clustersAround(const QImage& persistence, const std::vector<QPointF>& points, double radius)
{
    Clusters c;
    c.share.assign(points.size(), 0.0);
    double total = 0;
    for (int y = 0; y < persistence.height(); ++y)
        for (int x = 0; x < persistence.width(); ++x) {
            if (persistence.constScanLine(y)[x] >= 200)
                continue;
            ++total;
            bool near = false;
            for (size_t k = 0; k < points.size(); ++k)
                if (std::hypot(x - points[k].x(), y - points[k].y()) <= radius) {
                    c.share[k] += 1;
                    near = true;
                }
            if (!near)
                c.stray += 1;
        }
    for (double& s : c.share)
        s /= std::max(total, 1.0);
    c.stray /= std::max(total, 1.0);
    return c;
}

} // namespace

// The displays on a live signal: the service name from the SDT in the
// waterfall's band, and the constellation's hits in clusters on the ideal
// points that are drawn with it (four for QPSK, eight for 8PSK).
TEST_F(WindowTest, DisplaysShowTheServiceAndTheConstellationOfTheSignal)
{
    struct Case {
        const char* modcod;
        int points;
    };
    for (const Case c : {Case{"QPSK 3/4", 4}, Case{"8PSK 2/3", 8}}) {
        SCOPED_TRACE(c.modcod);
        const std::string iq = path("signal.iq").toStdString();
        const testsupport::ToolRun tx = testsupport::runTool(
            TAVIREL_SIGGEN, std::string("--modcod \"") + c.modcod + "\" --pilots on --esn0 25 --duration 1.5 --output " + iq);
        ASSERT_EQ(tx.exitCode, 0) << tx.err;

        open();
        window->show();
        ui().cb_crec_fine_enabled->click();   // the loop turns the constellation onto its points
        testsupport::SendOnceServer server(readFile(iq));
        connectTo(*window, server);
        ASSERT_NE(window->currentDevice(), nullptr);
        pumpUntil([&] { return window->currentDevice() == nullptr; }, 240000);
        ASSERT_TRUE(chain().waitIdle(std::chrono::seconds(60)));

        auto* waterfall = window->findChild<WaterfallDisplay*>("widget_waterfall");
        ASSERT_NE(waterfall, nullptr);
        EXPECT_TRUE(waterfall->overlayText().contains("TAVIREL TEST")) << waterfall->overlayText().toStdString();

        auto* plot = window->findChild<IQPlot*>("widget_iqplot");
        ASSERT_NE(plot, nullptr);
        std::vector<QPointF> points;
        for (int k = 0; k < c.points; ++k) {
            const double phase = c.points == 4 ? M_PI / 4 + k * M_PI / 2 : k * M_PI / 4;
            points.emplace_back(128 + IQPlot::kPointScale * std::cos(phase), 128 + IQPlot::kPointScale * std::sin(phase));
        }
        const Clusters found = clustersAround(plot->persistence(), points, 22);
        EXPECT_LT(found.stray, 0.1);
        for (size_t k = 0; k < points.size(); ++k)
            EXPECT_GT(found.share[k], 0.5 / double(c.points)) << "point " << k;
        window.reset();
    }
}


// A signal at full scale decodes and the warning under the gain control says
// the input clips; when the feed then stalls, the sync label stops showing a
// lock, says why, and the MER is no longer shown.
TEST_F(WindowTest, ClippingAndAStalledFeedAreShown)
{
    const std::string iq = path("clipping.iq").toStdString();
    const testsupport::ToolRun tx = testsupport::runTool(
        TAVIREL_SIGGEN, "--modcod \"QPSK 1/2\" --pilots on --esn0 12 --level 1.0 --duration 2 --output " + iq);
    ASSERT_EQ(tx.exitCode, 0) << tx.err;
    open("conf_ldpc_threads=2\nip_out_mode=0\n");
    window->show();
    QLabel* clipping = window->findChild<QLabel*>("lbl_clipping");
    ASSERT_NE(clipping, nullptr);
    EXPECT_FALSE(clipping->isVisible());

    testsupport::SendOnceServer server(readFile(iq), 120000);
    connectTo(*window, server);
    ASSERT_NE(window->currentDevice(), nullptr);

    const QColor green(0, 192, 0);
    bool lockShown = false, clippingShown = false, stallShown = false;
    pumpUntil(
        [&] {
            const bool greenNow = ui().sync_confidence->palette().color(QPalette::WindowText) == green;
            lockShown = lockShown || (greenNow && ui().lbl_modcode->text() == "Modcode: QPSK 1/2");
            clippingShown = clippingShown || clipping->isVisible();
            if (lockShown && ui().sync_confidence->text().contains("(no input for ")) {
                stallShown = true;
                EXPECT_FALSE(greenNow);
                return true;
            }
            return window->currentDevice() == nullptr;
        },
        60000);
    // The readings follow within their refresh of 100 ms; the constellation
    // fades out and the workers show no load, as nothing arrives.
    pumpFor(300);
    EXPECT_TRUE(ui().lbl_snr->text().startsWith("MER: -")) << ui().lbl_snr->text().toStdString();
    const QImage faded = ui().widget_iqplot->persistence();
    int hits = 0;
    for (int y = 0; y < faded.height(); ++y)
        for (int x = 0; x < faded.width(); ++x)
            hits += faded.constScanLine(y)[x] < 255;
    EXPECT_EQ(hits, 0) << "the constellation has faded out";
    for (QProgressBar* bar : ui().grp_workerstats->findChildren<QProgressBar*>())
        EXPECT_EQ(bar->value(), 0) << bar->objectName().toStdString();

    EXPECT_TRUE(lockShown);
    EXPECT_TRUE(clippingShown);
    EXPECT_TRUE(stallShown) << ui().sync_confidence->text().toStdString();
    // A second after the clipping samples stopped, the warning goes.
    pumpUntil([&] { return !clipping->isVisible(); }, 3000);
    EXPECT_FALSE(clipping->isVisible());
    // The silence lasts until it has been seen, however slowly the window
    // worked through what the server's buffers held.
    server.hangUp();
    pumpUntil([&] { return window->currentDevice() == nullptr; }, 20000);
}

// When the signal goes (here noise alone after a second and a half), the
// labels stop naming a MODCOD: whatever headers the noise spells, none of
// its frames decodes, and the window shows only what frames that decoded
// said, while they decode.
TEST_F(WindowTest, UnlockedTheLabelsNameNoModcod)
{
    const std::string iq = path("signal.iq").toStdString();
    const testsupport::ToolRun tx = testsupport::runTool(
        TAVIREL_SIGGEN, "--modcod \"QPSK 1/2\" --pilots on --esn0 10 --duration 4 --dropout 1.5:2.5:noise --output " + iq);
    ASSERT_EQ(tx.exitCode, 0) << tx.err;
    const std::vector<uint8_t> samples = readFile(iq);
    open("conf_ldpc_threads=2\nip_out_mode=0\n");
    window->show();
    testsupport::SendOnceServer server(samples);
    connectTo(*window, server);
    ASSERT_NE(window->currentDevice(), nullptr);

    bool shown = false, cleared = false, untrue = false;
    pumpUntil(
        [&] {
            const bool receiving = chain().receiving();
            const QString modcod = ui().lbl_modcode->text();
            if (!shown && modcod == "Modcode: QPSK 1/2") {
                shown = true;
                EXPECT_EQ(ui().lbl_rolloff->text(), "Rolloff: 0.35");
            }
            if (shown && !receiving && modcod == "Modcode: -") {
                cleared = true;
                EXPECT_EQ(ui().lbl_pilots->text(), "Pilot symbols: -");
                EXPECT_EQ(ui().lbl_frametype->text(), "Frame type: -");
                EXPECT_EQ(ui().lbl_rolloff->text(), "Rolloff: -");
            }
            // A code other than the one sent is never shown.
            if (modcod != "Modcode: -" && modcod != "Modcode: QPSK 1/2" && !untrue) {
                untrue = true;
                ADD_FAILURE() << modcod.toStdString();
            }
            return window->currentDevice() == nullptr;
        },
        240000);
    EXPECT_TRUE(shown);
    EXPECT_TRUE(cleared) << "the labels still name a MODCOD after the signal went";
    EXPECT_FALSE(untrue);
}
