// The window's controls, each checked where it lands: in the workers, the
// device, the outputs and the window's own labels.
#include "tests/window/WindowFixture.h"

#include "core/CpuInfo.h"
#include "devices/DeviceSettings.h"
#include "devices/TCPInputDevice.h"
#include "tests/LoopbackServer.h"
#include "tests/TestSupport.h"
#include "ui/DebugWindow.h"
#include "ui/EqualizerWindow.h"
#include "ui/WaterfallDisplay.h"
#include "ui/WorkerStatsWidget.h"

#include <QFileDialog>
#include <QFileInfo>
#include <qcustomplot.h>
#include <QImage>
#include <QLabel>
#include <QSettings>
#include <QTcpServer>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <cstdio>

namespace {

// The resampler's step for a symbol rate and an input of 2 × rate samples/s.
int64_t expectedStep(double symbolRate, double sampleRate)
{
    return 2 * int64_t(std::floor(symbolRate * 4294967296.0 / (2.0 * sampleRate)));
}

TcpInputSettings localInput(quint16 port, double mhz = 2.0)
{
    TcpInputSettings s;
    s.address = "127.0.0.1";
    s.port = port;
    s.bandwidthMHz = mhz;
    return s;
}

void invoke(QObject* target, const char* slot)
{
    ASSERT_TRUE(QMetaObject::invokeMethod(target, slot, Qt::DirectConnection)) << slot;
}

int pixelsNear(const QImage& image, QColor colour, int tolerance = 40)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                    std::abs(c.blue() - colour.blue()) <
                tolerance)
                ++n;
        }
    return n;
}

} // namespace

// The window connected to a server of the test's own that accepts and sends
// nothing: a device that stays open.
class ConnectedWindowTest : public WindowTest {
protected:
    void connectSilentServer(double mhz = 2.0)
    {
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
        window->connectTcp(localInput(server.serverPort(), mhz));
        ASSERT_NE(window->currentDevice(), nullptr) << (warnings.empty() ? "" : warnings.back().second.toStdString());
    }
    QTcpServer server;
};

TEST_F(WindowTest, StartsInDvbS2WithTheWorkersListedAndNoDevice)
{
    open();
    const QString title = window->windowTitle();
    EXPECT_TRUE(title.startsWith("Tavirel - Version 2.0.21 | CPU: ")) << title.toStdString();
    EXPECT_TRUE(title.endsWith(QString(" | Features: ") + QString::fromStdString(cpuInfo().featureList)));
    EXPECT_FALSE(title.contains(QChar('\0')));

    // A statistics row per worker, in registration order, named by class.
    const std::vector<Worker*>& workers = chain().workers();
    ASSERT_EQ(ui().vl_workerstats->count(), int(workers.size()));
    const QStringList expected = {"FFTWorker",   "BasebandWorker", "FIRWorker", "ResampleWorker",
                                  "DemodWorker", "ViterbiWorker",  "LDPCWorker"};
    for (int i = 0; i < ui().vl_workerstats->count(); ++i) {
        QWidget* row = ui().vl_workerstats->itemAt(i)->widget();
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->objectName(), "Form");
        EXPECT_EQ(row->findChild<QLabel*>("worker_name")->text(), expected[std::min(i, int(expected.size()) - 1)]);
    }

    EXPECT_GE(ui().box_devlist->findText("TCP Input Device"), 0);
    EXPECT_TRUE(ui().btn_dcon->isEnabled());
    EXPECT_EQ(window->currentDevice(), nullptr);
    EXPECT_TRUE(ui().btn_std_s2->isChecked());
    EXPECT_TRUE(ui().grp_dvbs->isHidden());
    EXPECT_FALSE(ui().lbl_modcode->isHidden());
    EXPECT_EQ(window->transponderOverlayOpacity(), 0.5);

    // The window starts from the tuned profile (the classic one decodes
    // nothing at the threshold), and its controls show what the workers run.
    const DemodControls demod = chain().demodWorker().controls();
    EXPECT_TRUE(demod.dvbS2);
    EXPECT_TRUE(demod.carrierLoop);
    EXPECT_TRUE(ui().cb_crec_fine_enabled->isChecked());
    EXPECT_EQ(demod.carrierKp, 0.5f);
    EXPECT_EQ(demod.carrierKi, 2.0f / 2048);
    EXPECT_EQ(demod.carrierKi8psk, 1.0f / 4096);
    EXPECT_EQ(demod.equalizerMode, EqualizerMode::Off);
    EXPECT_EQ(ui().box_equ_mode->currentIndex(), 0);
    EXPECT_EQ(demod.equalizerLength, 16);
    EXPECT_EQ(chain().resampleWorker().gainShift(), 6);
    EXPECT_EQ(chain().resampleWorker().dampingShift(), 15);
    EXPECT_EQ(ui().sld_tedgain->value(), 6);
    EXPECT_EQ(ui().lbl_tedgain->text(), "1/64");
    EXPECT_EQ(ui().sld_teddamp->value(), 15);
    EXPECT_EQ(ui().sld_crec_fine_gain->value(), 128);
    EXPECT_EQ(ui().lbl_crec_fine_gain->text(), "0.5000");
    EXPECT_EQ(ui().sld_crec_fine_damp->value(), 2048);
    EXPECT_EQ(ui().lbl_crec_fine_damp->text(), "0.0010");
    EXPECT_EQ(ui().sld_cma_taps->value(), 1);
    EXPECT_EQ(ui().sld_rrc_taps->value() * 16, window->receiverSettings().filterTaps);
}

TEST_F(WindowTest, GeneralSettingsShapeTheControls)
{
    open("conf_ldpc_threads=2\nip_out_mode=7\nsr_min=33\nsr_max=2000\nsr_presets=5000 33 1000\nfreq_lo0=-3\n"
         "ip_out_port=5000\nui_iqplot_rgb=1 2 3\n");
    EXPECT_EQ(chain().ldpcWorkers().size(), 2u);
    EXPECT_EQ(ui().box_net_mode->currentIndex(), 0);
    EXPECT_EQ(window->sinks().netMode(), NetworkMode::Off);
    EXPECT_TRUE(ui().box_udp_addr->isEnabled());
    EXPECT_EQ(ui().box_udp_port->value(), 5000);
    EXPECT_EQ(ui().box_srate->minimum(), 33);
    EXPECT_EQ(ui().box_srate->maximum(), 2000);
    EXPECT_EQ(ui().sld_srate->minimum(), 33000);
    EXPECT_EQ(ui().sld_srate->maximum(), 2000000);
    EXPECT_EQ(ui().sld_srate->value(), 1000000);
    ASSERT_EQ(ui().box_srate_preset->count(), 2);
    EXPECT_EQ(ui().box_srate_preset->itemText(0), "33");
    EXPECT_EQ(ui().box_srate_preset->itemText(1), "1000");
    EXPECT_EQ(ui().lbl_lofreq->text(), "Lo Freq: 742 MHz");
    EXPECT_EQ(ui().lbl_hifreq->text(), "Hi Freq: 11342 MHz");
    EXPECT_EQ(window->constellationColour(), QColor(1, 2, 3));
}

TEST_F(WindowTest, NetworkOutputFollowsTheChooserAndFallsBackOnFailure)
{
    const quint16 port = quint16(testsupport::closedPort());
    open("conf_ldpc_threads=1\nip_out_mode=1\nip_out_port=" + std::to_string(port) + "\n");
    EXPECT_EQ(window->sinks().netMode(), NetworkMode::Udp);
    EXPECT_FALSE(ui().box_udp_addr->isEnabled());
    EXPECT_FALSE(ui().box_udp_port->isEnabled());

    ui().box_net_mode->setCurrentIndex(0);
    EXPECT_EQ(window->sinks().netMode(), NetworkMode::Off);
    EXPECT_TRUE(ui().box_udp_addr->isEnabled());

    ui().box_udp_addr->setText("300.1.1.1");
    ui().box_net_mode->setCurrentIndex(1);
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(warnings.back().first, "Network Settings");
    EXPECT_EQ(warnings.back().second, "'300.1.1.1' is not a valid IP address!");
    EXPECT_EQ(ui().box_net_mode->currentIndex(), 0);
    EXPECT_EQ(window->sinks().netMode(), NetworkMode::Off);
    EXPECT_TRUE(ui().box_udp_addr->isEnabled());

    // A TCP server on a port that is taken.
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::LocalHost));
    ui().box_udp_addr->setText("127.0.0.1");
    ui().box_udp_port->setValue(occupant.serverPort());
    ui().box_net_mode->setCurrentIndex(2);
    EXPECT_EQ(warnings.back().second,
              QString("TCP Listening Socket couldn't be created. addr: 127.0.0.1, port: %1").arg(occupant.serverPort()));
    EXPECT_EQ(ui().box_net_mode->currentIndex(), 0);
    EXPECT_TRUE(ui().box_udp_port->isEnabled());

    ui().box_udp_port->setValue(port);
    ui().box_net_mode->setCurrentIndex(2);
    EXPECT_EQ(window->sinks().netMode(), NetworkMode::TcpServer);
    EXPECT_EQ(window->sinks().tcpServerPort(), port);
}

// The configured output cannot start: said in the log, the output off, and
// no message box while the window is being built (it would wait for a click
// before the window, its timers or its shutdown exist).
TEST_F(WindowTest, AnUnusableConfiguredOutputStartsOffWithALogLineAndNoBox)
{
    for (const std::string& address : {std::string("not-an-address"), std::string(100000, '7')}) {
        testing::internal::CaptureStdout();
        open("conf_ldpc_threads=1\nip_out_mode=1\nip_out_addr=" + address + "\n");
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(window->sinks().netMode(), NetworkMode::Off);
        EXPECT_EQ(ui().box_net_mode->currentIndex(), 0);
        EXPECT_EQ(ui().box_udp_addr->text(), "127.0.0.1");
        EXPECT_TRUE(ui().box_udp_addr->isEnabled());
        EXPECT_TRUE(warnings.empty()) << warnings.front().second.left(80).toStdString();
        EXPECT_NE(log.find("config.ini: ip_out_addr '" + address.substr(0, 40) + "'"), std::string::npos)
            << log.substr(0, 2000);
        window.reset();
    }

    // A good address whose socket cannot be made (the port is taken).
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::LocalHost));
    testing::internal::CaptureStdout();
    open("conf_ldpc_threads=1\nip_out_mode=2\nip_out_addr=127.0.0.1\nip_out_port=" +
         std::to_string(occupant.serverPort()) + "\n");
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(warnings.empty());
    EXPECT_NE(log.find("Network Settings: TCP Listening Socket couldn't be created. addr: 127.0.0.1, port: " +
                       std::to_string(occupant.serverPort())),
              std::string::npos)
        << log;
    EXPECT_EQ(window->sinks().netMode(), NetworkMode::Off);
    EXPECT_EQ(ui().box_net_mode->currentIndex(), 0);

    // Once the window is up, an address typed in the Output tab gets the box.
    ui().box_udp_addr->setText("not-an-address");
    ui().box_net_mode->setCurrentIndex(1);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].first, "Network Settings");
    EXPECT_EQ(warnings[0].second, "'not-an-address' is not a valid IP address!");
}

TEST_F(ConnectedWindowTest, SymbolRateSetsTheResamplerStepWithAndWithoutDecimation)
{
    open();
    connectSilentServer(2.0);
    EXPECT_EQ(chain().resampleWorker().trackedStep(), expectedStep(1000000, 2000000)) << "computed on connecting";

    ui().sld_srate->setValue(300000);
    EXPECT_EQ(ui().box_srate->value(), 300);
    EXPECT_EQ(window->receiverSettings().symbolRate, 300000);
    EXPECT_EQ(chain().resampleWorker().trackedStep(), expectedStep(300000, 2000000));

    // Automatic by default: 300 ksym/s at 2 Msps keeps every sample, and
    // the box names the factor chosen.
    EXPECT_EQ(window->decimation(), kAutoDecimation);
    EXPECT_EQ(ui().box_decimate->itemText(0), "Auto (1)");
    // A factor of two halves the resampler's input rate at once.
    ui().box_decimate->setCurrentIndex(2);
    EXPECT_EQ(ui().box_decimate->itemText(0), "Auto");
    EXPECT_EQ(window->decimation(), 1);
    EXPECT_EQ(window->receiverSettings().decimation, 1);
    EXPECT_EQ(chain().resampleWorker().trackedStep(), expectedStep(300000, 1000000));
    ui().box_srate->setValue(333);
    EXPECT_EQ(ui().sld_srate->value(), 333000);
    EXPECT_EQ(chain().resampleWorker().trackedStep(), expectedStep(333000, 1000000));

    ui().box_srate_preset->setCurrentIndex(ui().box_srate_preset->findText("125"));
    EXPECT_EQ(ui().box_srate->value(), 125);
    EXPECT_EQ(chain().resampleWorker().trackedStep(), expectedStep(125000, 1000000));

    // The status labels give the rate itself, whatever the decimation
    // (readings are shown every few refreshes).
    for (int tick = 0; tick < MainWindow::kReadingTicks; ++tick)
        invoke(window.get(), "slot_60hz_timer_ovf");
    EXPECT_EQ(ui().lbl_symrate->text(), "Symbolrate: 125 ksym/s");
    EXPECT_EQ(ui().lbl_bandwidth->text(), "Bandwidth: 169 KHz");   // 125 × 1.35

    // Back to automatic: 125 ksym/s at 2 Msps is decimated by four.
    ui().box_decimate->setCurrentIndex(0);
    EXPECT_EQ(ui().box_decimate->itemText(0), "Auto (4)");
    EXPECT_EQ(chain().basebandWorker().decimation(), 2);
    EXPECT_EQ(chain().resampleWorker().trackedStep(), expectedStep(125000, 500000));
}

// A symbol rate the receiver cannot run at the device's sample rate is
// brought to the highest it can, said in the log and shown by the controls;
// the --symbol-rate beyond the controls' range is said too.
TEST_F(ConnectedWindowTest, SymbolRateIsKeptRunnableAndEveryChangeIsSaid)
{
    WindowOptions options;
    options.symbolRate = 20000000;
    testing::internal::CaptureStdout();
    open(kQuietConfig, options);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("--symbol-rate 20000000: outside the symbol-rate controls' range (8 to 8000 ksym/s"),
              std::string::npos)
        << log;
    EXPECT_EQ(ui().sld_srate->value(), 8000000);

    testing::internal::CaptureStdout();
    connectSilentServer(2.0);
    log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("Symbol rate 8000000 sym/s is above 1481481 sym/s, the highest the sample rate 2000000 Hz "
                       "carries at roll-off 0.35; using 1481481 sym/s"),
              std::string::npos)
        << log;
    EXPECT_EQ(window->receiverSettings().symbolRate, 1481481);
    EXPECT_EQ(ui().sld_srate->value(), 1481481);
    EXPECT_EQ(ui().box_srate->value(), 1481);
    EXPECT_EQ(chain().resampleWorker().nominalStep(), expectedStep(1481481, 2000000));

    // Moved beyond it while connected: back to the highest, said again.
    testing::internal::CaptureStdout();
    ui().sld_srate->setValue(3000000);
    log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("Symbol rate 3000000 sym/s is above 1481481 sym/s"), std::string::npos) << log;
    EXPECT_EQ(ui().sld_srate->value(), 1481481);
    EXPECT_EQ(chain().resampleWorker().nominalStep(), expectedStep(1481481, 2000000));

    // Within it: as set, nothing said.
    testing::internal::CaptureStdout();
    ui().sld_srate->setValue(500000);
    log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log.find("Symbol rate "), std::string::npos) << log;
    EXPECT_EQ(window->receiverSettings().symbolRate, 500000);
    EXPECT_EQ(chain().resampleWorker().nominalStep(), expectedStep(500000, 2000000));
}

// sr_max = 0 once ran the receiver at 0 sym/s: the defaults instead.
TEST_F(ConnectedWindowTest, AnEmptyConfiguredRangeRunsWithTheDefaultRange)
{
    testing::internal::CaptureStdout();
    open("conf_ldpc_threads=1\nip_out_mode=0\nsr_max=0\n");
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("config.ini: symbol-rate range sr_min = '8', sr_max = '0' is not usable"), std::string::npos)
        << log;
    EXPECT_EQ(ui().sld_srate->minimum(), 8000);
    EXPECT_EQ(ui().sld_srate->maximum(), 8000000);
    connectSilentServer(2.0);
    EXPECT_EQ(window->receiverSettings().symbolRate, 1000000);
    EXPECT_EQ(chain().resampleWorker().nominalStep(), expectedStep(1000000, 2000000));
}

// Device settings that cannot be saved are said where the user looks, not
// only in the log.
TEST_F(ConnectedWindowTest, AFailedSaveOfTheDeviceSettingsIsShown)
{
    open();
    ASSERT_TRUE(QDir(folder.path()).mkdir("devices.ini"));   // a folder where the file belongs
    connectSilentServer(2.0);
    testing::internal::CaptureStdout();
    ui().btn_dcon->setChecked(false);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("devices.ini is not a regular file; the device settings are not saved"), std::string::npos)
        << log;
    EXPECT_EQ(ui().statusbar->currentMessage(), "The settings of TCP Input Device could not be saved to devices.ini.");
}

// With nothing received there is no MODCOD: the labels say so rather than
// show the code's initial 0 as a dummy frame.
TEST_F(ConnectedWindowTest, NoFrameReceivedShowsNoModcod)
{
    open();
    connectSilentServer(2.0);
    for (int tick = 0; tick < MainWindow::kReadingTicks; ++tick)
        invoke(window.get(), "slot_60hz_timer_ovf");
    EXPECT_EQ(ui().lbl_modcode->text(), "Modcode: -");
    EXPECT_EQ(ui().lbl_pilots->text(), "Pilot symbols: -");
    EXPECT_EQ(ui().lbl_frametype->text(), "Frame type: -");
}

TEST_F(ConnectedWindowTest, TapCountAndRollOffRedesignTheMatchedFilter)
{
    open();
    connectSilentServer();
    EXPECT_EQ(chain().firWorker().tapCount(), 64);
    ui().sld_rrc_taps->setValue(8);
    EXPECT_EQ(chain().firWorker().tapCount(), 128);
    EXPECT_EQ(ui().lbl_rrc_taps->text(), "128");

    window->rolloffChangeNotification(0.25f);
    EXPECT_FLOAT_EQ(window->receiverSettings().rollOff, 0.25f);
    EXPECT_EQ(ui().lbl_rolloff->text(), "Rolloff: 0.25");
    EXPECT_EQ(chain().firWorker().tapCount(), 128);
}

TEST_F(WindowTest, SwitchingStandardsBothWays)
{
    open();
    window->rolloffChangeNotification(0.2f);
    ASSERT_EQ(ui().lbl_rolloff->text(), "Rolloff: 0.20");

    ui().btn_std_s1->click();
    EXPECT_FALSE(chain().dvbS2Mode());
    EXPECT_FALSE(chain().demodWorker().controls().dvbS2);
    EXPECT_TRUE(chain().demodWorker().controls().spectrumInverted) << "inversion re-applied as chosen";
    EXPECT_FLOAT_EQ(window->receiverSettings().rollOff, 0.35f) << "DVB-S forces 0.35";
    EXPECT_EQ(ui().lbl_rolloff->text(), "Rolloff: 0.35");
    EXPECT_FALSE(ui().grp_dvbs->isHidden());
    EXPECT_TRUE(ui().lbl_modcode->isHidden());
    EXPECT_TRUE(ui().lbl_pilots->isHidden());
    EXPECT_TRUE(ui().lbl_frametype->isHidden());
    EXPECT_TRUE(ui().btn_std_s1->isChecked());

    // Again: nothing changes; a BBHEADER's roll-off is not taken in DVB-S.
    ui().btn_std_s1->click();
    EXPECT_FALSE(chain().dvbS2Mode());
    window->rolloffChangeNotification(0.25f);
    EXPECT_FLOAT_EQ(window->receiverSettings().rollOff, 0.35f);

    // The DVB-S controls.
    ui().box_depuncture->setCurrentIndex(2);
    EXPECT_EQ(chain().viterbiWorker().rateType(), 2);
    ui().cb_rsdecoder->click();
    EXPECT_FALSE(chain().dvbsDecoding().reedSolomonEnabled());
    ui().cb_rsdecoder->click();
    EXPECT_TRUE(chain().dvbsDecoding().reedSolomonEnabled());

    // The sync label shows the outer decoder's confidence, red without sync.
    invoke(window.get(), "slot_60hz_timer_ovf");
    EXPECT_EQ(ui().sync_confidence->text(), "sync_confidence: 0");
    EXPECT_EQ(ui().sync_confidence->palette().color(QPalette::WindowText), QColor(192, 0, 0));

    ui().btn_std_s2->click();
    EXPECT_TRUE(chain().dvbS2Mode());
    EXPECT_TRUE(chain().demodWorker().controls().dvbS2);
    EXPECT_TRUE(ui().grp_dvbs->isHidden());
    EXPECT_FALSE(ui().lbl_modcode->isHidden());
    window->rolloffChangeNotification(0.25f);
    EXPECT_FLOAT_EQ(window->receiverSettings().rollOff, 0.25f);
}

TEST_F(WindowTest, LoopAndEqualizerControlsReachTheDemodulator)
{
    open();
    DemodWorker& demod = chain().demodWorker();

    ui().sld_crec_fine_gain->setValue(512);
    EXPECT_FLOAT_EQ(demod.controls().carrierKp, 2.0f);
    EXPECT_EQ(ui().lbl_crec_fine_gain->text(), "2.0000");
    ui().sld_crec_fine_damp->setValue(1000);
    EXPECT_FLOAT_EQ(demod.controls().carrierKi, 0.002f);
    EXPECT_EQ(ui().lbl_crec_fine_damp->text(), "0.0020");
    ui().cb_crec_fine_enabled->click();
    EXPECT_FALSE(demod.controls().carrierLoop);
    EXPECT_FALSE(window->receiverSettings().carrierLoop);
    ui().cb_crec_fine_enabled->click();
    EXPECT_TRUE(demod.controls().carrierLoop);

    ui().box_equ_mode->setCurrentIndex(2);
    EXPECT_EQ(demod.controls().equalizerMode, EqualizerMode::DecisionDirected);
    demod.setEqualizerMode(EqualizerMode::Off);
    ui().btn_equ_reset->click();
    EXPECT_EQ(demod.controls().equalizerMode, EqualizerMode::DecisionDirected) << "reset re-applies the chosen mode";
    ui().box_equ_mode->setCurrentIndex(0);
    EXPECT_EQ(demod.controls().equalizerMode, EqualizerMode::Off);

    ui().sld_cma_taps->setValue(5);
    EXPECT_EQ(demod.controls().equalizerLength, 80);
    EXPECT_EQ(ui().lbl_cma_taps->text(), "80");
    ui().sld_cma_gain->setValue(10000);
    EXPECT_FLOAT_EQ(demod.controls().equalizerMu, 0.0001f);
    EXPECT_EQ(ui().lbl_cma_gain->text(), "0.000100");
    ui().cb_update_coeffs->click();
    EXPECT_FALSE(demod.controls().updateCoefficients);

    ui().cb_keep_lock->click();
    EXPECT_TRUE(demod.controls().keepLock);
    ui().box_spectrum_inversion->setCurrentIndex(1);
    EXPECT_FALSE(demod.controls().spectrumInverted);
    EXPECT_FALSE(window->receiverSettings().spectrumInverted);
    ui().box_spectrum_inversion->setCurrentIndex(0);
    EXPECT_TRUE(demod.controls().spectrumInverted);
    EXPECT_FALSE(demod.controls().spectrumAutomatic) << "a sense chosen by hand holds";
    ui().box_spectrum_inversion->setCurrentIndex(2);
    EXPECT_EQ(ui().box_spectrum_inversion->currentText(), "Auto");
    EXPECT_TRUE(demod.controls().spectrumAutomatic);
    EXPECT_TRUE(demod.controls().spectrumInverted) << "from the standard's sense";
    EXPECT_TRUE(window->receiverSettings().spectrumAutomatic);

    ui().sld_tedgain->setValue(8);
    EXPECT_EQ(chain().resampleWorker().gainShift(), 8);
    EXPECT_EQ(ui().lbl_tedgain->text(), "1/256");
    ui().sld_teddamp->setValue(16);
    EXPECT_EQ(chain().resampleWorker().dampingShift(), 16);
    EXPECT_EQ(ui().lbl_teddamp->text(), "1/65536");

    // The constellation source is published by the status refresh.
    ui().box_iqsource->setCurrentIndex(2);
    invoke(window.get(), "slot_60hz_timer_ovf");
    EXPECT_EQ(demod.controls().displaySource, DisplaySource::Header);

    ui().box_ldpc_enable->click();
    for (const auto& worker : chain().ldpcWorkers())
        EXPECT_FALSE(worker->isDecodingEnabled());
    ui().box_ldpc_enable->click();
    for (const auto& worker : chain().ldpcWorkers())
        EXPECT_TRUE(worker->isDecodingEnabled());
}

TEST_F(WindowTest, SpectrumViewAndDebugMenus)
{
    open();
    ui().sld_fftsize->setValue(9);
    EXPECT_EQ(chain().fftSize(), 512);
    EXPECT_EQ(ui().box_fftsize->text(), "512");

    ui().act_tpov_25p->trigger();
    EXPECT_EQ(window->transponderOverlayOpacity(), 0.25);
    EXPECT_FALSE(ui().act_tpov_50p->isChecked()) << "one overlay choice at a time";
    ui().act_tpov_0p->trigger();
    EXPECT_EQ(window->transponderOverlayOpacity(), 0.0);
    ui().act_view_fft_show_fir->trigger();
    EXPECT_TRUE(window->fftAfterMatchedFilter());

    ui().act_debug_workerstats->trigger();
    EXPECT_TRUE(ui().grp_workerstats->isHidden());
    ui().act_debug_workerstats->trigger();
    EXPECT_FALSE(ui().grp_workerstats->isHidden());

    ui().act_debug_gse->trigger();
    EXPECT_EQ(chain().gseTraceFramesLeft(), 64);

    ui().act_debug_modcode->trigger();
    ASSERT_EQ(informations.size(), 1u);
    EXPECT_EQ(informations[0], std::make_pair(QString("DVB-S2 Stats"), QString("No Lock!")));
    ui().btn_std_s1->click();
    ui().act_debug_modcode->trigger();
    EXPECT_EQ(informations.back().second, "");

    window->show();
    ui().act_debug_plots->trigger();
    EXPECT_TRUE(chain().demodWorker().controls().frameDumpRequested);
    EXPECT_TRUE(window->debugPlotWindow()->isVisible());
    EXPECT_EQ(window->debugPlotWindow()->windowTitle(), "Debug Window");
}

TEST_F(WindowTest, EqualizerWindowPlotsTheTapsOnEachRefresh)
{
    open();
    window->show();
    ui().btn_equ_reset->click();
    ui().cb_cma_show->click();
    EqualizerWindow* taps = window->equalizerTapWindow();
    ASSERT_TRUE(taps->isVisible());
    EXPECT_EQ(taps->windowTitle(), "CMA Equalizer Taps");
    invoke(window.get(), "slot_60hz_timer_ovf");

    // After a reset two centre taps carry e^(j·0.5): 16 / 2 = 8 each.
    const std::vector<double>& m = taps->magnitudes();
    ASSERT_EQ(m.size(), 16u);
    EXPECT_NEAR(m[7], 8.0, 1e-4);
    EXPECT_NEAR(m[8], 8.0, 1e-4);
    EXPECT_EQ(m[0], 0.0);
    pumpFor(50);   // the plot redraws on the event loop
    const QImage image = taps->equ_plot->grab().toImage();
    EXPECT_GT(pixelsNear(image, EqualizerWindow::curveColour()), 20) << "the curve is drawn";
    // On the scale: the axis reaches above the centre taps.
    EXPECT_GE(taps->equ_plot->yAxis->range().upper, 8.0);
    EXPECT_EQ(taps->equ_plot->yAxis->range().lower, 0.0);
    // The peak itself is drawn: curve pixels in the plot's top tenth.
    const QRect area = taps->equ_plot->axisRect()->rect();
    const QImage top = image.copy(area.left(), area.top(), area.width(), area.height() / 10);
    EXPECT_GT(pixelsNear(top, EqualizerWindow::curveColour()), 0) << "the centre taps' peak is on the plot";

    ui().cb_cma_show->click();
    EXPECT_FALSE(taps->isVisible());

    // Closed from its title bar: the box that shows it is cleared too, and
    // one click shows it again.
    ui().cb_cma_show->click();
    ASSERT_TRUE(taps->isVisible());
    taps->close();
    EXPECT_FALSE(ui().cb_cma_show->isChecked());
    ui().cb_cma_show->click();
    EXPECT_TRUE(taps->isVisible());
}

TEST_F(ConnectedWindowTest, DeviceControlsActOnTheOpenDevice)
{
    open();
    connectSilentServer(2.0);
    InputDevice* device = window->currentDevice();
    EXPECT_FALSE(ui().box_devlist->isEnabled());
    EXPECT_TRUE(pumpUntil([&] { return ui().btn_dcon->text() == "Disconnect"; })) << ui().btn_dcon->text().toStdString();
    ASSERT_EQ(ui().box_bandwidth->count(), 1);
    EXPECT_EQ(ui().box_bandwidth->itemText(0), "2000000");
    EXPECT_FALSE(ui().sld_filter->isEnabled()) << "the TCP input has no filter";
    EXPECT_EQ(ui().sld_freq->maximum(), 2150000);

    ui().sld_freq->setValue(1200000);
    EXPECT_EQ(device->getFrequency(), 1200000000u);
    EXPECT_DOUBLE_EQ(ui().box_freq->value(), 1200.0);
    EXPECT_EQ(ui().lbl_lofreq->text(), "Lo Freq: 10950 MHz");
    EXPECT_EQ(ui().lbl_hifreq->text(), "Hi Freq: 11800 MHz");
    ui().box_freq->setValue(1300.5);
    EXPECT_EQ(ui().sld_freq->value(), 1300500);
    // Above 10 GHz the labels keep the kHz (six significant digits showed
    // 100 kHz steps).
    ui().sld_freq->setValue(850123);
    EXPECT_EQ(ui().lbl_lofreq->text(), "Lo Freq: 10600.123 MHz");
    EXPECT_EQ(ui().lbl_hifreq->text(), "Hi Freq: 11450.123 MHz");
    ui().sld_freq->setValue(1300500);
    EXPECT_EQ(device->getFrequency(), 1300500000u);

    // From the waterfall: half the span to the right is fs / 4 … in kHz.
    window->centerFreqChanged(0.5f);
    EXPECT_EQ(ui().sld_freq->value(), 1301000);
    window->offsetFreqChanged(0.25f);
    EXPECT_DOUBLE_EQ(chain().basebandWorker().getPhaseIncrement(), 0.125);
    // The band marks the mixer where the receiver moved it to follow the
    // carrier, not only where it was clicked.
    chain().basebandWorker().setPhaseIncrement(0.2);
    invoke(window.get(), "slot_60hz_timer_ovf");
    EXPECT_FLOAT_EQ(ui().widget_waterfall->offsetPosition(), 0.4f);

    // Disconnecting saves the device's settings.
    ui().btn_dcon->setChecked(false);
    EXPECT_EQ(window->currentDevice(), nullptr);
    EXPECT_TRUE(ui().box_devlist->isEnabled());
    EXPECT_EQ(ui().btn_dcon->text(), "Connect");
    QSettings saved(path("devices.ini"), QSettings::IniFormat);
    EXPECT_EQ(saved.value(deviceSettingsSection(*device) + "/frequency").toULongLong(), 1301000000u);

    // Without a device the controls touch nothing.
    ui().sld_freq->setValue(1000000);
    window->centerFreqChanged(0.5f);
    EXPECT_EQ(ui().sld_freq->value(), 1000000);
    EXPECT_EQ(device->getFrequency(), 1301000000u);
}

// A server that never answers (its listening queue full: the kernel drops
// the connection's SYNs): the window keeps turning its event loop while the
// connect runs out of time, says "Connecting…" meanwhile, then why it gave up.
TEST_F(WindowTest, TheWindowStaysResponsiveWhileAConnectTimesOut)
{
    open();
    window->show();
    testsupport::UnansweredPort unanswered;

    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longestGap = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - last);
        last = clock.elapsed();
    });
    clock.start();
    ticks.start(5);
    window->connectTcp(localInput(quint16(unanswered.port)));
    ASSERT_NE(window->currentDevice(), nullptr);
    EXPECT_EQ(ui().btn_dcon->text(), "Connecting…");
    const bool gaveUp = pumpUntil([&] { return window->currentDevice() == nullptr; },
                                  TCPInputDevice::kConnectTimeoutMs + 5000);
    ticks.stop();
    ASSERT_TRUE(gaveUp);
    // Before, the loop stood still for the whole 5 s. On an idle machine
    // the longest gap is a few milliseconds; tests running beside this one
    // on two cores take the process off the processor for tens of them, and
    // the sanitizers slow every event tenfold.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr qint64 kLongestGapMs = 1000;
#else
    constexpr qint64 kLongestGapMs = 250;
#endif
    EXPECT_LT(longestGap, kLongestGapMs) << "the event loop stood still";
    std::printf("longest gap between 5 ms ticks while connecting: %lld ms\n", static_cast<long long>(longestGap));
    EXPECT_FALSE(ui().btn_dcon->isChecked());
    EXPECT_EQ(ui().btn_dcon->text(), "Connect");
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(warnings.back().second,
              QString("TCP connection timed out after 5 s. addr: 127.0.0.1, port: %1").arg(unanswered.port));
}

TEST_F(WindowTest, ARefusingOrVanishingServerLeavesTheDeviceDisconnected)
{
    open();
    window->show();
    const int refusing = testsupport::closedPort();
    window->connectTcp(localInput(quint16(refusing)));
    EXPECT_TRUE(pumpUntil([&] { return window->currentDevice() == nullptr; }));
    EXPECT_FALSE(ui().btn_dcon->isChecked());
    EXPECT_TRUE(ui().box_devlist->isEnabled());
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(warnings.back().second,
              QString("TCP connection refused. addr: 127.0.0.1, port: %1").arg(refusing))
        << warnings.back().second.toStdString();

    {
        testsupport::SendOnceServer hangsUp{std::vector<uint8_t>()};
        window->connectTcp(localInput(quint16(hangsUp.port)));
        EXPECT_TRUE(pumpUntil([&] { return !ui().btn_dcon->isChecked(); }));
        EXPECT_EQ(window->currentDevice(), nullptr);
        EXPECT_TRUE(ui().box_devlist->isEnabled());
    }

    // A server that accepts and never sends: connected, and the window keeps
    // answering.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    window->connectTcp(localInput(silent.serverPort()));
    ASSERT_NE(window->currentDevice(), nullptr);
    pumpFor(200);
    ui().sld_fftsize->setValue(10);
    EXPECT_EQ(ui().box_fftsize->text(), "1024");
    EXPECT_TRUE(ui().btn_dcon->isChecked());
}

TEST_F(ConnectedWindowTest, RecordingStartsStopsAndEndsWithTheDevice)
{
    open();
    EXPECT_TRUE(window->startRecording(RecordType::TransportStream, path("a.ts")));
    EXPECT_TRUE(window->sinks().recording().isOpen());
    EXPECT_FALSE(ui().box_rectype->isEnabled());
    EXPECT_TRUE(ui().btn_rec->isChecked());
    EXPECT_EQ(ui().lbl_recsize->text(), "0 B");
    ui().btn_rec->setChecked(false);
    EXPECT_FALSE(window->sinks().recording().isOpen());
    EXPECT_TRUE(ui().box_rectype->isEnabled());

    // A file that cannot be created leaves recording off.
    EXPECT_FALSE(window->startRecording(RecordType::TransportStream, path("no/such/folder/a.ts")));
    EXPECT_FALSE(ui().btn_rec->isChecked());
    EXPECT_TRUE(ui().box_rectype->isEnabled());

    // The button opens the file dialog; its choice opens the file.
    window->show();
    ui().btn_rec->setChecked(true);
    auto* dialog = window->findChild<QFileDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    Q_EMIT dialog->fileSelected(path("b.iq"));
    EXPECT_TRUE(window->sinks().recording().isOpen());
    ui().btn_rec->setChecked(false);
    EXPECT_FALSE(dialog->isVisible());

    // Cancelling the dialog leaves nothing checked that is not recording.
    ui().btn_rec->setChecked(true);
    ASSERT_TRUE(dialog->isVisible());
    dialog->reject();
    EXPECT_FALSE(ui().btn_rec->isChecked());
    EXPECT_TRUE(ui().box_rectype->isEnabled());
    EXPECT_FALSE(window->sinks().recording().isOpen());

    // Disconnecting closes the recording and returns to the first type.
    connectSilentServer();
    EXPECT_TRUE(window->startRecording(RecordType::Symbols, path("c.iq")));
    EXPECT_EQ(ui().box_rectype->currentIndex(), 1);
    EXPECT_EQ(window->sinks().recording().type(), RecordType::Symbols);
    ui().btn_dcon->setChecked(false);
    EXPECT_FALSE(window->sinks().recording().isOpen());
    EXPECT_EQ(ui().box_rectype->currentIndex(), 0);
    EXPECT_EQ(window->sinks().recording().type(), RecordType::TransportStream);
    EXPECT_FALSE(ui().btn_rec->isChecked());
}

// Samples recorded to NAME.sigmf-data: the samples there, and their SigMF
// description beside them once the recording stops. Other names stay raw.
TEST_F(ConnectedWindowTest, SamplesRecordedAsSigmfAreDescribed)
{
    open();
    connectSilentServer();
    ASSERT_TRUE(window->startRecording(RecordType::Samples, path("s.sigmf-meta")));
    EXPECT_TRUE(window->sinks().recording().isOpen());
    ui().btn_rec->setChecked(false);
    const std::vector<uint8_t> meta = testsupport::readFile(path("s.sigmf-meta").toStdString());
    const std::string text(meta.begin(), meta.end());
    EXPECT_NE(text.find("\"core:datatype\": \"ci16_le\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"core:sample_rate\": 2000000.0"), std::string::npos) << text;
    EXPECT_NE(text.find("\"core:recorder\": \"tavirel\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"core:hw\": \"TCP Input Device\""), std::string::npos) << text;
    EXPECT_TRUE(QFileInfo::exists(path("s.sigmf-data")));

    ASSERT_TRUE(window->startRecording(RecordType::Samples, path("raw.iq")));
    ui().btn_rec->setChecked(false);
    EXPECT_TRUE(QFileInfo::exists(path("raw.iq")));
    EXPECT_FALSE(QFileInfo::exists(path("raw.sigmf-meta")));
    EXPECT_FALSE(QFileInfo::exists(path("raw.iq.sigmf-meta")));
}

// A chain still working through what the device gave (a buffer in use here)
// when the device goes: the recording stays open until the chain is through,
// however long that takes, and the window goes on meanwhile.
TEST_F(ConnectedWindowTest, RecordingTakesWhatTheChainStillHoldsAfterDisconnecting)
{
    open();
    connectSilentServer();
    ASSERT_TRUE(window->startRecording(RecordType::TransportStream, path("a.ts")));
    WorkBuffer* held = chain().pool().alloc(16);
    ASSERT_NE(held, nullptr);
    ui().btn_dcon->setChecked(false);
    EXPECT_EQ(window->currentDevice(), nullptr);
    pumpFor(2500);   // longer than the window ever waited
    EXPECT_TRUE(window->sinks().recording().isOpen()) << "closed while the chain still held samples";
    EXPECT_TRUE(ui().btn_rec->isChecked());

    chain().pool().dealloc(held);
    EXPECT_TRUE(pumpUntil([&] { return !window->sinks().recording().isOpen(); }, 5000));
    EXPECT_FALSE(ui().btn_rec->isChecked());
    EXPECT_EQ(ui().box_rectype->currentIndex(), 0);
}

TEST(WorkerStatsWidget, ShowsTheLoadOverThirtyTwoWithinAHundred)
{
    WorkerStatsWidget row("DemodWorker");
    EXPECT_EQ(row.objectName(), "Form");
    EXPECT_EQ(row.findChild<QLabel*>("worker_name")->text(), "DemodWorker");
    row.setLoad(640);
    EXPECT_EQ(row.shownLoad(), 20);
    row.setLoad(32 * 150);
    EXPECT_EQ(row.shownLoad(), 100);
    row.setLoad(-40);
    EXPECT_EQ(row.shownLoad(), 0);
}

// Clicks into the waterfall tune the device (left) and the mixer (right).
TEST_F(ConnectedWindowTest, WaterfallClicksRetuneTheDeviceAndTheMixer)
{
    open();
    window->show();
    connectSilentServer(2.0);
    auto* waterfall = window->findChild<WaterfallDisplay*>("widget_waterfall");
    ASSERT_NE(waterfall, nullptr);
    ui().sld_freq->setValue(1000000);
    const int width = waterfall->width();

    // Three quarters across: half the half-span (500 kHz at 2 Msps) up.
    QTest::mouseClick(waterfall, Qt::LeftButton, {}, QPoint(width * 3 / 4, 20));
    EXPECT_EQ(ui().sld_freq->value(), 1000000 + int(std::lround((float(width * 3 / 4) / float(width) * 2 - 1) * 1000)));
    EXPECT_NEAR(double(window->currentDevice()->getFrequency()), 1.0005e9, 2e3);

    // A right click a quarter across puts the mixer a quarter of the rate down.
    QTest::mouseClick(waterfall, Qt::RightButton, {}, QPoint(width / 4, 20));
    const double expected = 0.5 * (double(width / 4) / double(width) * 2 - 1);
    EXPECT_NEAR(chain().basebandWorker().getPhaseIncrement(), expected, 1e-6);
    EXPECT_NEAR(chain().basebandWorker().getPhaseIncrement(), -0.25, 0.01);
}
