// The SoapySDR device against a stand-in for libSoapySDR.
#include "devices/DeviceEnumerator.h"
#include "devices/soapysdr/SoapySDRDevice.h"
#include "tests/TestSupport.h"
#include "tests/devices/FakeRtlsdr.h"
#include "tests/devices/FakeSoapysdr.h"
#include "tests/devices/LogCapture.h"
#include "tests/devices/RadioChain.h"
#include "tests/devices/ReceivedSamples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <mutex>

namespace {

using Calls = std::vector<std::string>;

FakeSoapysdr::Radio radio(const std::string& driver, const std::string& label, const std::string& serial)
{
    FakeSoapysdr::Radio r;
    r.args = {{"driver", driver}, {"label", label}, {"serial", serial}};
    return r;
}

// The one radio the fake describes, as the enumeration makes it.
std::unique_ptr<SoapySDRDevice> listedDevice(FakeSoapysdr& fake)
{
    std::vector<std::unique_ptr<SoapySDRDevice>> devices = SoapySDRDevice::enumerate(fake.library());
    EXPECT_EQ(devices.size(), 1u);
    return devices.empty() ? nullptr : std::move(devices.front());
}

const char kBladeArgs[] = "make(driver=bladerf,label=BladeRF #0 [ab12],serial=ab12)";

} // namespace

TEST(SoapySDRDevice, ListsOtherRadiosByDriverAndLabelAndLeavesOursToTheirOwnDrivers)
{
    FakeSoapysdr fake;
    for (const char* driver : {"rtlsdr", "hackrf", "lime", "airspy", "sdrplay", "plutosdr"})
        fake.radios.push_back(radio(driver, std::string("own ") + driver, "1"));
    fake.radios.push_back(radio("uhd", "B210 [31A5]", "31A5"));
    fake.radios.push_back(radio("airspyhf", "AirspyHF+ [3652]", "3652"));
    FakeSoapysdr::Radio unlabeled;
    unlabeled.args = {{"driver", "remote"}, {"remote", "tcp://10.0.0.2:55132"}, {"remote:driver", "redpitaya"}};
    fake.radios.push_back(unlabeled);
    FakeSoapysdr::Radio busy = radio("bladerf", "BladeRF #0 [ab12]", "ab12");
    busy.makeFails = true;
    fake.radios.push_back(busy);

    LogCapture log;
    const std::vector<std::unique_ptr<SoapySDRDevice>> devices = SoapySDRDevice::enumerate(fake.library());
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0]->getDeviceName(), "soapysdr | uhd | B210 [31A5]");
    EXPECT_EQ(devices[1]->getDeviceName(), "soapysdr | airspyhf | AirspyHF+ [3652]") << "a key is matched whole";
    EXPECT_EQ(devices[2]->getDeviceName(),
              "soapysdr | remote | remote=tcp://10.0.0.2:55132, remote:driver=redpitaya");
    EXPECT_EQ(devices[0]->getTypeName(), "SoapySDRDevice");
    EXPECT_TRUE(log.has("soapysdr num_devices: 10"));
    EXPECT_TRUE(log.has("soapysdr: \"soapysdr | rtlsdr | own rtlsdr\" is listed by its own driver"));
    EXPECT_TRUE(log.has("SoapySDRDevice_make failed for \"soapysdr | bladerf | BladeRF #0 [ab12]\": no match"));
    const Calls calls = fake.calls();
    for (const std::string& call : calls)
        EXPECT_EQ(call.find("driver=rtlsdr"), std::string::npos) << "a radio left to its driver is not opened";
    EXPECT_EQ(fake.outstanding(), 0) << "every list and array given back";
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "unmake()"), 3) << "each radio made to describe it is unmade";
}

TEST(SoapySDRDevice, OffersTheRatesGainAndFrequencyRangeTheRadioReports)
{
    FakeSoapysdr fake;
    FakeSoapysdr::Radio r = radio("bladerf", "BladeRF #0 [ab12]", "ab12");
    r.sampleRates = {2e6, 0.0, 10e6, 5.000000001e6};
    r.gain = {-12.5, 60.4, 1.0};
    r.frequencies = {{70e6, 3e9, 0.0}, {47e6, 69.9995e6, 0.0}, {3e9, 6e9, 0.0}};
    r.bandwidths = {{1.5e6, 28e6, 0.0}};
    fake.radios = {r};
    std::unique_ptr<SoapySDRDevice> device = listedDevice(fake);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->getSampleRates(), (std::vector<uint64_t>{2000000, 10000000, 5000000}));
    EXPECT_EQ(device->getMinGain(), -12) << "inside the range";
    EXPECT_EQ(device->getMaxGain(), 60);
    EXPECT_EQ(device->getMinFrequency(), 47000u) << "kHz, the lowest of all ranges";
    EXPECT_EQ(device->getMaxFrequency(), 6000000u);
    EXPECT_TRUE(device->hasFilterBandwidth());

    fake.radios[0].bandwidths.clear();
    fake.radios[0].frequencies = {{1e6, 1e14, 0.0}};
    device = listedDevice(fake);
    ASSERT_TRUE(device);
    EXPECT_FALSE(device->hasFilterBandwidth());
    EXPECT_EQ(device->getMaxFrequency(), unsigned(INT_MAX)) << "limited to what a slider holds";
}

TEST(SoapySDRDevice, OpenAppliesTheStoredSettingsThenStreamsCs16AndCloseUndoesItInOrder)
{
    FakeSoapysdr fake;
    FakeSoapysdr::Radio r = radio("bladerf", "BladeRF #0 [ab12]", "ab12");
    r.bandwidths = {{1.5e6, 28e6, 0.0}};
    fake.radios = {r};
    std::unique_ptr<SoapySDRDevice> device = listedDevice(fake);
    ASSERT_TRUE(device);
    const size_t listed = fake.calls().size();
    device->setSampleRate(2048000);
    device->setFrequency(1210000000);
    device->setGain(33);
    device->setFilterBandwidth(6000000);
    EXPECT_EQ(fake.calls().size(), listed) << "closed: setters only store";

    ReceivedSamples received;
    ASSERT_FALSE(device->open(received.callback));
    Calls calls = fake.calls();
    EXPECT_EQ(Calls(calls.begin() + long(listed), calls.end()),
              (Calls{kBladeArgs, "setSampleRate(1,0,2048000)", "setGainMode(0)", "setGain(33)",
                     "setFrequency(1,0,1210000000)", "setBandwidth(6000000)", "setupStream(1,CS16,0)",
                     "activateStream()"}));

    device->setFrequency(1300000000);
    device->setGain(10);
    device->setSampleRateIndex(0);
    device->setSampleRateIndex(3);   // past the list: nothing
    device->setFilterBandwidth(8000000);
    calls = fake.calls();
    EXPECT_EQ(Calls(calls.end() - 4, calls.end()),
              (Calls{"setFrequency(1,0,1300000000)", "setGain(10)", "setSampleRate(1,0,250000)", "setBandwidth(8000000)"}));
    EXPECT_EQ(device->getSampleRate(), 250000u);

    device->close();
    calls = fake.calls();
    EXPECT_EQ(Calls(calls.end() - 3, calls.end()), (Calls{"deactivateStream()", "closeStream()", "unmake()"}));
    const size_t closed = calls.size();
    device->close();
    device->setGain(1);
    EXPECT_EQ(fake.calls().size(), closed) << "closed: nothing reaches the radio";
}

TEST(SoapySDRDevice, WithoutAStoredRateOpenTakesTheFirstAndAZeroFrequencyIsNotTuned)
{
    FakeSoapysdr fake;
    fake.radios = {radio("bladerf", "BladeRF #0 [ab12]", "ab12")};
    std::unique_ptr<SoapySDRDevice> device = listedDevice(fake);
    ASSERT_TRUE(device);
    const size_t listed = fake.calls().size();
    device->setFilterBandwidth(6000000);   // the radio has no filter
    ReceivedSamples received;
    ASSERT_FALSE(device->open(received.callback));
    const Calls calls = fake.calls();
    EXPECT_EQ(Calls(calls.begin() + long(listed), calls.end()),
              (Calls{kBladeArgs, "setSampleRate(1,0,250000)", "setGainMode(0)", "setGain(0)", "setupStream(1,CS16,0)",
                     "activateStream()"}));
    EXPECT_EQ(device->getSampleRate(), 250000u);
}

TEST(SoapySDRDevice, EveryFailedOpenStepIsLoggedAndUndoesWhatWasDone)
{
    struct Step {
        std::string failing, line;
        Calls tail;
    };
    const std::vector<Step> steps{
        {"make", "SoapySDRDevice_make failed for \"soapysdr | bladerf | BladeRF #0 [ab12]\": make refused",
         {kBladeArgs}},
        {"setupStream", "SoapySDRDevice_setupStream failed for \"soapysdr | bladerf | BladeRF #0 [ab12]\": "
                        "setupStream refused",
         {"setupStream(1,CS16,0)", "unmake()"}},
        {"activateStream", "SoapySDRDevice_activateStream failed for \"soapysdr | bladerf | BladeRF #0 [ab12]\": "
                           "STREAM_ERROR",
         {"activateStream()", "closeStream()", "unmake()"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.failing);
        FakeSoapysdr fake;
        fake.radios = {radio("bladerf", "BladeRF #0 [ab12]", "ab12")};
        std::unique_ptr<SoapySDRDevice> device = listedDevice(fake);
        ASSERT_TRUE(device);
        fake.failing = step.failing;
        ReceivedSamples received;
        {
            LogCapture log;
            EXPECT_TRUE(device->open(received.callback));
            EXPECT_EQ(log.lines(), std::vector<std::string>{step.line});
        }
        const Calls calls = fake.calls();
        EXPECT_EQ(Calls(calls.end() - long(step.tail.size()), calls.end()), step.tail);
        device->close();
        EXPECT_EQ(fake.calls().size(), calls.size()) << "a failed open leaves nothing to close";
        fake.failing.clear();
        EXPECT_FALSE(device->open(received.callback)) << "and the radio opens again";
    }
}

TEST(SoapySDRDevice, FailedSettingsAreLoggedAndTheRadioStillStreams)
{
    FakeSoapysdr fake;
    fake.radios = {radio("bladerf", "BladeRF #0 [ab12]", "ab12")};
    std::unique_ptr<SoapySDRDevice> device = listedDevice(fake);
    ASSERT_TRUE(device);
    device->setFrequency(5000000);
    fake.failing = "setFrequency";
    ReceivedSamples received;
    LogCapture log;
    ASSERT_FALSE(device->open(received.callback));
    device->setFrequency(6000000);
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{
                  "SoapySDRDevice_setFrequency failed for \"soapysdr | bladerf | BladeRF #0 [ab12]\": setFrequency refused",
                  "SoapySDRDevice_setFrequency failed for \"soapysdr | bladerf | BladeRF #0 [ab12]\": setFrequency refused"}));
}

TEST(SoapySDRDevice, Cs16PairsArriveUnchanged_AndAReadFailureIsLoggedOnce)
{
    FakeSoapysdr fake;
    fake.radios = {radio("bladerf", "BladeRF #0 [ab12]", "ab12")};
    fake.stream = {-32768, 32767, 0, -1, 1234, -4321};
    fake.mtu = 2;
    fake.readFailure = -2;
    {
        std::unique_ptr<SoapySDRDevice> device = listedDevice(fake);
        ASSERT_TRUE(device);
        ReceivedSamples received;
        LogCapture log;
        ASSERT_FALSE(device->open(received.callback));
        // The stream out, then read after read failing: logged once.
        ASSERT_TRUE(testsupport::waitUntil([&] { return fake.failedReads() >= 5; }));
        device.reset();   // destruction closes
        EXPECT_EQ(received.samples(), fake.stream);
        EXPECT_EQ(log.lines(), std::vector<std::string>{"SoapySDRDevice_readStream failed for "
                                                        "\"soapysdr | bladerf | BladeRF #0 [ab12]\": STREAM_ERROR"});
    }
    EXPECT_EQ(fake.calls().back(), "unmake()");
}

TEST(SoapySDRDevice, ReadsGoToTheBlockCallbackAsRunsWhenOneIsSet)
{
    FakeSoapysdr again;
    again.radios = {radio("bladerf", "BladeRF #0 [ab12]", "ab12")};
    again.stream = {-32768, 32767, 0, -1, 1234, -4321};
    again.mtu = 2;
    std::unique_ptr<SoapySDRDevice> device = listedDevice(again);
    ASSERT_TRUE(device);
    std::mutex mutex;
    std::vector<std::vector<int16_t>> runs;
    SampleBlockCallback blocks = [&](const int16_t* iq, size_t count) {
        std::lock_guard<std::mutex> lock(mutex);
        runs.emplace_back(iq, iq + 2 * count);
    };
    device->setBlockCallback(&blocks);
    ReceivedSamples perSample;
    ASSERT_FALSE(device->open(perSample.callback));
    ASSERT_TRUE(testsupport::waitUntil([&] { return again.streamDelivered(); }));
    device->close();
    EXPECT_EQ(runs, (std::vector<std::vector<int16_t>>{{-32768, 32767, 0, -1}, {1234, -4321}})) << "one run per read";
    EXPECT_EQ(perSample.count(), 0u);
}

TEST(SoapySDRDevice, ListedAfterTheOwnDriversAndBeforeTheTcpInput)
{
    FakeRtlsdr rtlsdr;
    FakeSoapysdr fake;
    fake.radios = {radio("rtlsdr", "Generic RTL2832U OEM :: 00000001", "00000001"),
                   radio("uhd", "B210 [31A5]", "31A5")};
    DeviceLibraries libraries;
    libraries.rtlsdr = &rtlsdr.library();
    libraries.soapysdr = &fake.library();
    DeviceEnumerator enumerator(libraries);
    const std::vector<InputDevice*>& devices = enumerator.devices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0]->getTypeName(), "RTLSDRDevice");
    EXPECT_EQ(devices[1]->getDeviceName(), "soapysdr | uhd | B210 [31A5]");
    EXPECT_EQ(devices[2]->getTypeName(), "TCPInputDevice");
}

// The transmitter's signal as a radio's CS16 stream, through the device into
// the receiver, comes out as the transmitted TS.
TEST(SoapySDRDevice, TransmittedSignalDecodesToItsTransportStream)
{
    const std::string tsFile = std::string(TAVIREL_TEST_DATA) + "/dvbs2_qpsk12_normal_pilots.ts";
    const std::vector<uint8_t> sent = testsupport::readFile(tsFile);
    const std::vector<uint8_t> bytes = transmitterSamples("s16", 2048000, tsFile, 32);
    ASSERT_FALSE(bytes.empty());
    for (const bool inRuns : {false, true}) {
        SCOPED_TRACE(inRuns ? "in runs" : "sample by sample");
        FakeSoapysdr fake;
        fake.radios = {radio("uhd", "B210 [31A5]", "31A5")};
        fake.stream.resize(bytes.size() / 2);
        for (size_t k = 0; k < fake.stream.size(); ++k)
            fake.stream[k] = int16_t(uint16_t(bytes[2 * k] | bytes[2 * k + 1] << 8));
        fake.stream.resize(fake.stream.size() + 2 * 2 * 16384, 0);   // silence pushes the last block through
        std::unique_ptr<SoapySDRDevice> device = listedDevice(fake);
        ASSERT_TRUE(device);
        device->setSampleRate(2048000);
        const std::vector<uint8_t> ts =
            receiveThroughChain(*device, 2048000, inRuns, [&] { return fake.streamDelivered(); });
        EXPECT_GT(ts.size() / 188, 450u) << "all but the frames before the lock of the 580 sent";
        EXPECT_EQ(testsupport::packetsInOrder(ts, sent), ts.size() / 188);
    }
}
