// tavirel-cli with a radio: which device --input names, at which rate it
// runs, and a whole run receiving from a stand-in radio library.
#include "CliOptions.h"
#include "CliRun.h"
#include "CliScan.h"
#include "RadioSelection.h"
#include "TsOutputs.h"
#include "devices/DeviceEnumerator.h"
#include "devices/rtlsdr/RTLSDRDevice.h"
#include "receiver/ScanRange.h"
#include "tests/TestSupport.h"
#include "tests/devices/FakeRtlsdr.h"
#include "tests/devices/RadioChain.h"

#include <QCoreApplication>
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

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

// --scan-range on a stand-in dongle that receives, at each frequency, what a
// real one would there: the tuner is stepped by half the sample rate across
// the range, and each carrier is listed once at its own frequency, whatever
// number of steps saw it (one carrier is seen by two steps, one on a step's
// edge by two, the third by one).
TEST(CliScan, RangeStepsTheRadioAndListsEachCarrierOnce)
{
    int argc = 1;
    char name[] = "tavirel-cli";
    char* argv[] = {name};
    QCoreApplication app(argc, argv);

    struct Carrier {
        double hz, rate;
        const char* modcod;
        const char* service;
    };
    const Carrier carriers[] = {{100.9e6, 250000, "QPSK 1/2", "ALPHA"},
                                {102.35e6, 125000, "QPSK 3/4", "BRAVO"},
                                {103.9e6, 333000, "8PSK 2/3", "CHARLIE"}};
    // 100.0 to 104.8 MHz at 2.4 Msps: four steps, 1.2 MHz apart.
    const double steps[] = {100.6e6, 101.8e6, 103.0e6, 104.2e6};
    FakeRtlsdr fake;
    for (double centre : steps) {
        std::string band = "--band --sample-rate 2400000 --format u8 --duration 3 --seed " +
                           std::to_string(int(centre / 1e5));
        for (const Carrier& c : carriers) {
            const double offset = c.hz - centre;
            if (std::fabs(offset) + c.rate * 0.7 > 1.2e6)
                continue;   // outside the band there
            band += " --carrier 'symbol-rate=" + std::to_string(int(c.rate)) + ";offset=" + std::to_string(int(offset)) +
                    ";modcod=" + c.modcod + ";esn0=10;service=" + c.service + "'";
        }
        const std::string path = testsupport::tempPath("step.u8");
        const testsupport::ToolRun tx = testsupport::runTool(TAVIREL_SIGGEN, band + " --output " + path);
        ASSERT_EQ(tx.exitCode, 0) << tx.err;
        fake.bands[uint32_t(centre)] = testsupport::readFile(path);
    }
    RTLSDRDevice radio(fake.library(), 0);

    CliOptions options;
    std::string message;
    ASSERT_EQ(parseCliOptions({"tavirel-cli", "--input", "rtlsdr:0", "--sample-rate", "2400000", "--scan-range",
                               "100e6:104.8e6", "--json"},
                              options, message),
              ParseResult::Run)
        << message;
    EXPECT_TRUE(options.scan);
    options.radioRateIndex = 0;
    testing::internal::CaptureStdout();
    const int code = runScan(options, &radio);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(code, 0) << out;

    std::vector<std::string> tuned;
    for (const std::string& call : fake.calls())
        if (call.rfind("set_center_freq(", 0) == 0)
            tuned.push_back(call);
    for (double centre : steps)
        EXPECT_NE(std::find(tuned.begin(), tuned.end(), "set_center_freq(" + std::to_string(uint32_t(centre)) + ")"),
                  tuned.end())
            << centre;

    std::vector<nlohmann::json> listed;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        if (!j.is_discarded() && j.value("type", "") == "carrier")
            listed.push_back(j);
    }
    ASSERT_EQ(listed.size(), 3u) << out;
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(carriers[i].service);
        const nlohmann::json& j = listed[i];
        EXPECT_NEAR(j["frequency_hz"].get<double>(), carriers[i].hz, 0.01 * carriers[i].rate) << j;
        EXPECT_NEAR(j["symbol_rate"].get<double>(), carriers[i].rate, 0.001 * carriers[i].rate) << j;
        EXPECT_EQ(j["standard"], "DVB-S2") << j;
        ASSERT_EQ(j["services"].size(), 1u) << j;
        EXPECT_NE(j["services"][0].get<std::string>().find(carriers[i].service), std::string::npos) << j;
    }
}

// Range steps: half a sample rate each, the first from the start, the last
// to the stop; every frequency of the range answered for by one step.
TEST(ScanRange, StepsCoverTheRangeOnceAndMergeKeepsEachCarrierOnce)
{
    const std::vector<ScanStep> steps = scanSteps(100e6, 104.8e6, 2.4e6);
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_DOUBLE_EQ(steps[0].centreHz, 100.6e6);
    EXPECT_DOUBLE_EQ(steps[3].centreHz, 104.2e6);
    for (size_t i = 1; i < steps.size(); ++i)
        EXPECT_DOUBLE_EQ(steps[i].fromHz, steps[i - 1].toHz);
    EXPECT_GT(steps[3].toHz, 104.8e6) << "the stop itself is in the range";
    EXPECT_EQ(scanSteps(100e6, 100.1e6, 2.4e6).size(), 1u) << "a range narrower than a step";
    EXPECT_EQ(scanSteps(100e6, 102.4e6, 2.4e6).size(), 2u);

    auto found = [](double offset, double rate) {
        ScannedCarrier c;
        c.surveyed.offsetHz = offset;
        c.surveyed.symbolRate = rate;
        return c;
    };
    std::vector<RangeCarrier> range;
    // Step 2 (101.8 MHz) sees a carrier at 100.9 MHz that step 1 answered
    // for, and one at 102.35 MHz that is its own.
    mergeStep(range, {found(300000, 250000)}, steps[0]);
    mergeStep(range, {found(-900000, 250000), found(550000, 125000)}, steps[1]);
    // Step 3 sees the 102.35 MHz one again, outside its window.
    mergeStep(range, {found(-650000, 125000)}, steps[2]);
    ASSERT_EQ(range.size(), 2u);
    EXPECT_DOUBLE_EQ(range[0].frequencyHz(), 100.9e6);
    EXPECT_DOUBLE_EQ(range[1].frequencyHz(), 102.35e6);
    // A carrier on the edge between two windows measured a little apart by
    // the two steps: listed once.
    mergeStep(range, {found(600000 - 10, 100000)}, steps[1]);
    mergeStep(range, {found(-600000 + 10, 100000)}, steps[2]);
    EXPECT_EQ(range.size(), 3u);
}
