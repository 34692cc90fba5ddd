// tavirel-cli with a radio: which device --input names, at which rate it
// runs, and a whole run receiving from a stand-in radio library.
#include "CliOptions.h"
#include "CliRun.h"
#include "RadioSelection.h"
#include "TsOutputs.h"
#include "devices/DeviceEnumerator.h"
#include "devices/rtlsdr/RTLSDRDevice.h"
#include "tests/TestSupport.h"
#include "tests/devices/FakeRtlsdr.h"
#include "tests/devices/RadioChain.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

DeviceLibraries withFake(const FakeRtlsdr& fake)
{
    DeviceLibraries libraries;
    libraries.rtlsdr = &fake.library();
    return libraries;
}

} // namespace

TEST(RadioSelection, ByNumberOrListingTextWithinTheKind)
{
    FakeRtlsdr fake;
    fake.dongles = {{"Realtek", "RTL2838UHIDIR", "00000001", "Generic RTL2832U OEM"},
                    {"Realtek", "RTL2838UHIDIR", "00000002", "Generic RTL2832U OEM"}};
    const DeviceEnumerator enumerator(withFake(fake));
    const std::vector<InputDevice*>& devices = enumerator.devices();
    std::string error;
    EXPECT_EQ(selectRadio(devices, "rtlsdr:0", error), devices[0]);
    EXPECT_EQ(selectRadio(devices, "rtlsdr:1", error), devices[1]);
    EXPECT_EQ(selectRadio(devices, "rtlsdr:00000002", error), devices[1]) << "a serial number";
    EXPECT_EQ(selectRadio(devices, "rtlsdr:2", error), nullptr);
    EXPECT_EQ(error, "there are 2 rtlsdr devices, numbered from 0");
    EXPECT_EQ(selectRadio(devices, "rtlsdr:RTL2838", error), nullptr);
    EXPECT_EQ(error, "'RTL2838' matches 2 rtlsdr devices; give its number");
    EXPECT_EQ(selectRadio(devices, "rtlsdr:nothing", error), nullptr);
    EXPECT_EQ(error, "no rtlsdr device's listing contains 'nothing'");
    EXPECT_EQ(selectRadio(devices, "hackrf:0", error), nullptr);
    EXPECT_EQ(error, "no hackrf device is attached (--list-devices shows what is)");

    const std::vector<std::string> listing = radioListing(devices);
    ASSERT_EQ(listing.size(), 3u);
    EXPECT_EQ(listing[0], "rtlsdr:0  librtlsdr | MF: Realtek, PROD: RTL2838UHIDIR, SERIAL: 00000001, NAME: Generic RTL2832U OEM");
    EXPECT_EQ(listing[2], "tcp:0  TCP Input Device");

    EXPECT_TRUE(namesRadio("soapy:driver=airspy"));
    EXPECT_FALSE(namesRadio("tcp:127.0.0.1:7777"));
    EXPECT_FALSE(namesRadio("rtlsdr"));
}

TEST(RadioSelection, NearestListedRate)
{
    const std::vector<uint64_t> rtl = {2400000, 2800000, 3200000, 1800000, 1440000, 1200000, 1028571, 960000, 250000};
    EXPECT_EQ(nearestRateIndex(rtl, 2400000), 0u);
    EXPECT_EQ(nearestRateIndex(rtl, 2000000), 3u);
    EXPECT_EQ(nearestRateIndex(rtl, 100000000), 2u);
    EXPECT_EQ(nearestRateIndex(rtl, 1000), 8u);
    // 8 MHz stands twice in the HackRF's list: the first one is taken.
    EXPECT_EQ(nearestRateIndex({8000000, 20000000, 16000000, 8000000}, 8100000), 0u);
}

TEST(CliOptions, RadioInputWithItsFrequencyAndGain)
{
    CliOptions o;
    std::string message;
    ASSERT_EQ(parseCliOptions({"tavirel-cli", "--input", "rtlsdr:0", "--frequency", "1210000000", "--gain", "372"}, o,
                              message),
              ParseResult::Run)
        << message;
    EXPECT_EQ(o.input, InputKind::Radio);
    EXPECT_EQ(o.radioChoice, "rtlsdr:0");
    EXPECT_EQ(o.frequency, 1210000000u);
    EXPECT_EQ(o.gain, 372);

    o = CliOptions();
    ASSERT_EQ(parseCliOptions({"tavirel-cli", "--list-devices"}, o, message), ParseResult::Run) << message;
    EXPECT_TRUE(o.listDevices);

    for (const QStringList& bad : {QStringList{"--input", "rtlsdr:"}, QStringList{"--input", "fm:0"},
                                   QStringList{"--input", "tcp:127.0.0.1:7777", "--frequency", "100000000"},
                                   QStringList{"--input", "rtlsdr:0", "--frequency", "-5"},
                                   QStringList{"--input", "rtlsdr:0", "--gain", "2.5"}}) {
        o = CliOptions();
        EXPECT_EQ(parseCliOptions(QStringList{"tavirel-cli"} + bad, o, message), ParseResult::Error)
            << bad.join(' ').toStdString();
    }
}

// A whole run: the stand-in dongle streams the transmitter's signal; the
// rate, frequency and gain reach it after it opens, and the TS comes out.
TEST(CliRun, ReceivesFromARadio)
{
    int argc = 1;
    char name[] = "tavirel-cli";
    char* argv[] = {name};
    QCoreApplication app(argc, argv);

    const std::string tsFile = std::string(TAVIREL_TEST_DATA) + "/dvbs2_qpsk12_normal_pilots.ts";
    FakeRtlsdr fake;
    fake.stream = transmitterSamples("u8", 2400000, tsFile, 32);
    fake.stream.resize(fake.stream.size() + 2 * 16384, 0x80);
    RTLSDRDevice radio(fake.library(), 0);

    const std::string out = testsupport::tempPath("radio.ts");
    CliOptions options;
    std::string message;
    ASSERT_EQ(parseCliOptions({"tavirel-cli", "--input", "rtlsdr:0", "--sample-rate", "2400000", "--frequency",
                               "1210000000", "--gain", "372", "--duration", "4", "--status-interval", "0",
                               "--output", QString::fromStdString("file:" + out)},
                              options, message),
              ParseResult::Run)
        << message;
    options.radioRateIndex = 0;
    TsOutputs outputs;
    ASSERT_TRUE(outputs.open(options, message)) << message;
    EXPECT_EQ(runReceiver(options, outputs, &radio), 0);

    const std::vector<std::string> calls = fake.calls();
    const auto opened = std::find(calls.begin(), calls.end(), "set_sample_rate(2400000)");
    ASSERT_NE(opened, calls.end());
    for (const char* call : {"set_center_freq(1210000000)", "set_tuner_gain(372)"})
        EXPECT_NE(std::find(opened, calls.end(), call), calls.end()) << call;
    EXPECT_EQ(calls.back(), "close()");

    const std::vector<uint8_t> ts = testsupport::readFile(out);
    EXPECT_GT(ts.size() / 188, 450u);
    EXPECT_EQ(testsupport::packetsInOrder(ts, testsupport::readFile(tsFile)), ts.size() / 188);
}
