// A radio in the window: listed before the TCP input, opened from the device
// list with the window's settings, and its samples decoded to the TS.
#include "tests/window/WindowFixture.h"

#include "devices/DeviceLibraries.h"
#include "devices/DeviceSettings.h"
#include "tests/TestSupport.h"
#include "tests/devices/FakeAirspy.h"
#include "tests/devices/FakeHackrf.h"
#include "tests/devices/FakeIio.h"
#include "tests/devices/FakeLime.h"
#include "tests/devices/FakeRtlsdr.h"
#include "tests/devices/FakeSdrplay.h"
#include "tests/devices/FakeSoapysdr.h"
#include "tests/devices/RadioChain.h"

#include <QSettings>

#include <algorithm>
#include <functional>

namespace {

// Closes the window (and its devices) before the stand-in libraries that
// outlive it in the test go.
struct WindowClosedFirst {
    std::unique_ptr<MainWindow>& window;
    ~WindowClosedFirst() { window.reset(); }
};

// The window's options for a test with these stand-in radios.
WindowOptions withRadios(const DeviceLibraries& libraries)
{
    WindowOptions options;
    options.releaseNotes = false;
    options.radioLibraries = &libraries;
    return options;
}

bool called(const std::vector<std::string>& calls, const std::string& call)
{
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

} // namespace

TEST_F(WindowTest, ListsOpensAndReceivesARadio)
{
    const std::string tsFile = std::string(TAVIREL_TEST_DATA) + "/dvbs2_qpsk12_normal_pilots.ts";
    FakeRtlsdr fake;
    fake.dongles = {{"Realtek", "RTL2838UHIDIR", "00000007", "Generic RTL2832U OEM"}};
    fake.stream = transmitterSamples("u8", 2400000, tsFile, 40);
    // Silence after the signal pushes its last frames through the chain.
    fake.stream.resize(fake.stream.size() + 4 * 16384, 0x80);
    DeviceLibraries libraries;
    libraries.rtlsdr = &fake.library();
    const WindowClosedFirst closedFirst{window};

    WindowOptions options;
    options.releaseNotes = false;
    options.symbolRate = 1000000;
    options.radioLibraries = &libraries;
    open(kQuietConfig, options);

    ASSERT_EQ(ui().box_devlist->count(), 2);
    EXPECT_EQ(ui().box_devlist->itemText(0).toStdString(),
              "librtlsdr | MF: Realtek, PROD: RTL2838UHIDIR, SERIAL: 00000007, NAME: Generic RTL2832U OEM");
    EXPECT_EQ(ui().box_devlist->itemText(1), "TCP Input Device");
    EXPECT_TRUE(fake.calls().empty()) << "listing opens nothing";

    ui().box_devlist->setCurrentIndex(0);
    ASSERT_TRUE(window->startRecording(RecordType::TransportStream, path("radio.ts")));
    ui().btn_dcon->setChecked(true);
    ASSERT_NE(window->currentDevice(), nullptr);
    EXPECT_FALSE(ui().box_devlist->isEnabled());
    EXPECT_EQ(ui().box_bandwidth->currentText(), "2400000") << "the device's rates offered, its own chosen";

    const std::vector<std::string> opening = fake.calls();
    EXPECT_TRUE(called(opening, "open(0)"));
    EXPECT_TRUE(called(opening, "set_sample_rate(2400000)"));

    ASSERT_TRUE(pumpUntil([&] { return fake.streamDelivered(); }, 120000));
    ASSERT_TRUE(chain().waitIdle(std::chrono::seconds(60)));

    ui().btn_dcon->setChecked(false);
    EXPECT_EQ(window->currentDevice(), nullptr);
    EXPECT_EQ(fake.calls().back(), "close()");
    EXPECT_FALSE(fake.reading()) << "the reading thread has ended";
    EXPECT_TRUE(ui().box_devlist->isEnabled());

    const std::vector<uint8_t> ts = testsupport::readFile(path("radio.ts").toStdString());
    EXPECT_GT(ts.size() / 188, 450u);
    EXPECT_EQ(testsupport::packetsInOrder(ts, testsupport::readFile(tsFile)), ts.size() / 188);
}

// Every kind of radio at once: listed in the order of the device list (the
// network PlutoSDR of config.ini's default address after the TCP input), and
// each opened from the list and closed again by the Connect button.
TEST_F(WindowTest, ListsEveryKindOfRadioAndOpensEach)
{
    FakeHackrf hackrf;
    FakeRtlsdr rtlsdr;
    FakeLime lime;
    FakeSdrplay sdrplay;
    FakeAirspy airspy;
    FakeIio iio;
    FakeSoapysdr soapysdr;
    FakeSoapysdr::Radio usrp;
    usrp.args = {{"driver", "uhd"}, {"label", "B210 [31A5]"}, {"serial", "31A5"}};
    soapysdr.radios = {usrp};
    DeviceLibraries libraries;
    libraries.hackrf = &hackrf.library();
    libraries.rtlsdr = &rtlsdr.library();
    libraries.lime = &lime.library();
    libraries.sdrplay = &sdrplay.library();
    libraries.airspy = &airspy.library();
    libraries.iio = &iio.library();
    libraries.soapysdr = &soapysdr.library();
    const WindowClosedFirst closedFirst{window};
    open(kQuietConfig, withRadios(libraries));

    const std::vector<std::string> kinds = {"HackRFDevice",   "RTLSDRDevice",   "LimeSDRDevice",
                                            "SDRPlayDevice",  "AirSpyDevice",   "PlutoSDRDevice",
                                            "SoapySDRDevice", "TCPInputDevice", "PlutoSDRDevice"};
    ASSERT_EQ(ui().box_devlist->count(), int(kinds.size()));
    EXPECT_EQ(ui().box_devlist->itemText(6), "soapysdr | uhd | B210 [31A5]");
    EXPECT_EQ(ui().box_devlist->itemText(7), "TCP Input Device");

    const std::vector<std::function<size_t()>> callCounts = {
        [&] { return hackrf.calls().size(); },  [&] { return rtlsdr.calls().size(); },
        [&] { return lime.calls().size(); },    [&] { return sdrplay.calls().size(); },
        [&] { return airspy.calls().size(); },  [&] { return iio.calls().size(); },
        [&] { return soapysdr.calls().size(); }, [] { return size_t(0); },
        [&] { return iio.calls().size(); }};
    for (size_t i = 0; i < kinds.size(); ++i) {
        if (kinds[i] == "TCPInputDevice")
            continue;   // opened through its dialog: the TCP tests
        SCOPED_TRACE(ui().box_devlist->itemText(int(i)).toStdString());
        ui().box_devlist->setCurrentIndex(int(i));
        const size_t before = callCounts[i]();
        ui().btn_dcon->setChecked(true);
        ASSERT_NE(window->currentDevice(), nullptr) << "opened";
        EXPECT_EQ(window->currentDevice()->getTypeName(), kinds[i]);
        EXPECT_GT(ui().box_bandwidth->count(), 0) << "its sample rates offered";
        const size_t opened = callCounts[i]();
        EXPECT_GT(opened, before) << "the radio's library was called to open it";
        pumpFor(50);
        ui().btn_dcon->setChecked(false);
        EXPECT_EQ(window->currentDevice(), nullptr);
        EXPECT_GT(callCounts[i](), opened) << "and to close it";
        EXPECT_TRUE(ui().box_devlist->isEnabled());
    }
}

// A radio's stored settings survive connecting: the gain slider's range
// changes without sending the old value clamped to the new range, and the
// stored gain and frequency reach radios that take them only when set.
TEST_F(WindowTest, ConnectingKeepsTheRadiosStoredGainAndTunesIt)
{
    FakeHackrf hackrf;
    FakeIio iio;
    DeviceLibraries libraries;
    libraries.hackrf = &hackrf.library();
    libraries.iio = &iio.library();
    const WindowClosedFirst closedFirst{window};
    open(kQuietConfig, withRadios(libraries));
    auto indexOf = [&](const std::string& type) {
        for (int i = 0; i < ui().box_devlist->count(); ++i) {
            ui().box_devlist->setCurrentIndex(i);
            ui().btn_dcon->setChecked(true);
            const bool found = window->currentDevice() != nullptr && window->currentDevice()->getTypeName() == type;
            ui().btn_dcon->setChecked(false);
            if (found)
                return i;
        }
        return -1;
    };
    const int pluto = indexOf("PlutoSDRDevice"), hackrfIndex = indexOf("HackRFDevice");
    ASSERT_GE(pluto, 0);
    ASSERT_GE(hackrfIndex, 0);

    // Stored: the PlutoSDR at gain 8 (its range 1 … 1024), the HackRF at 1.2 GHz.
    auto sectionOf = [&](int index) {
        ui().box_devlist->setCurrentIndex(index);
        ui().btn_dcon->setChecked(true);
        const QString section = deviceSettingsSection(*window->currentDevice());
        ui().btn_dcon->setChecked(false);
        return section;
    };
    const QString plutoSection = sectionOf(pluto), hackrfSection = sectionOf(hackrfIndex);
    {
        QSettings stored(path("devices.ini"), QSettings::IniFormat);
        stored.setValue(plutoSection + "/bbgain", 8);
        stored.setValue(hackrfSection + "/frequency", 1200000123ull);
        stored.setValue(hackrfSection + "/bbgain", 0);
    }

    // The HackRF leaves the gain slider at 0, below the PlutoSDR's range.
    ui().box_devlist->setCurrentIndex(hackrfIndex);
    ui().btn_dcon->setChecked(true);
    ASSERT_NE(window->currentDevice(), nullptr);
    EXPECT_TRUE(called(hackrf.calls(), "set_freq(1200000123)")) << "tuned to the stored frequency on connect";
    EXPECT_EQ(ui().sld_freq->value(), 1200000);
    EXPECT_EQ(ui().sld_bbgain->value(), 0);
    ui().btn_dcon->setChecked(false);

    ui().box_devlist->setCurrentIndex(pluto);
    ui().btn_dcon->setChecked(true);
    ASSERT_NE(window->currentDevice(), nullptr);
    EXPECT_EQ(window->currentDevice()->getGain(), 8) << "not the old slider value clamped to 1";
    EXPECT_EQ(ui().sld_bbgain->value(), 8);
    ui().btn_dcon->setChecked(false);
    QSettings saved(path("devices.ini"), QSettings::IniFormat);
    EXPECT_EQ(saved.value(plutoSection + "/bbgain").toInt(), 8) << "and saved as it was";
}
