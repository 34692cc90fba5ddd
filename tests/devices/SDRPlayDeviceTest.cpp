// The SDRplay device against a stand-in for the SDRplay API, and the loading
// of the API at run time.
#include "devices/DeviceEnumerator.h"
#include "devices/sdrplay/SDRPlayDevice.h"
#include "tests/TestSupport.h"
#include "tests/devices/FakeRtlsdr.h"
#include "tests/devices/FakeSdrplay.h"
#include "tests/devices/LogCapture.h"
#include "tests/devices/RadioChain.h"
#include "tests/devices/ReceivedSamples.h"

#include <gtest/gtest.h>

#include <mutex>

namespace {

using Calls = std::vector<std::string>;

const Calls kOpenCalls{"LockDeviceApi()", "SelectDevice(1812000A17)", "UnlockDeviceApi()", "GetDeviceParams()",
                       "Init(fs=8000000 bw=8000 if=0 gr=40 lna=1 agc=0)"};

Calls callsSince(const FakeSdrplay& fake, size_t from)
{
    const Calls all = fake.calls();
    return Calls(all.begin() + long(std::min(from, all.size())), all.end());
}

} // namespace

TEST(SDRPlayDevice, OpenSelectsTheDeviceSetsItUpAndStartsAtTheFirstRateWithoutTuning)
{
    FakeSdrplay fake;
    SDRPlayDevice device(fake.library(), fake.devices[0]);
    device.setFrequency(1210000000);
    device.setGain(45);
    device.setSampleRateIndex(3);
    EXPECT_TRUE(fake.calls().empty()) << "closed: setters only store";
    EXPECT_EQ(device.getSampleRate(), 7000000u);
    EXPECT_EQ(device.getFrequency(), 1210000000u);
    EXPECT_EQ(device.getGain(), 45);

    ReceivedSamples received;
    ASSERT_FALSE(device.open(received.callback));
    EXPECT_EQ(fake.calls(), kOpenCalls) << "frequency and gain wait for their setters; no update before Init";
    EXPECT_EQ(device.getSampleRate(), 8000000u);
    EXPECT_EQ(SDRPlayDevice::activeDevice(), &device);

    device.close();
    EXPECT_EQ(callsSince(fake, kOpenCalls.size()), (Calls{"Uninit()", "ReleaseDevice(1812000A17)"}));
    EXPECT_EQ(SDRPlayDevice::activeDevice(), nullptr);
    const size_t closed = fake.calls().size();
    device.close();
    device.setFrequency(100000000);
    EXPECT_EQ(fake.calls().size(), closed) << "closed: nothing reaches the API";
}

TEST(SDRPlayDevice, OpenSettersUpdateTheApiWithTheirReason)
{
    FakeSdrplay fake;
    SDRPlayDevice device(fake.library(), fake.devices[0]);
    ReceivedSamples received;
    ASSERT_FALSE(device.open(received.callback));
    const size_t opened = fake.calls().size();
    LogCapture log;

    device.setFrequency(1300000000);
    device.setGain(59);
    device.setGain(60);   // out of range both ways: nothing
    device.setGain(19);
    device.setSampleRateIndex(4);
    device.setSampleRateIndex(6);   // past the list: nothing
    EXPECT_EQ(callsSince(fake, opened),
              (Calls{"Update(A Tuner_Frf rf=1300000000)", "Update(A Tuner_Gr gr=20)", "Update(A Dev_Fs fs=6000000)",
                     "Update(A Tuner_BwType bw=6000)"}));
    EXPECT_EQ(device.getGain(), 59);
    EXPECT_EQ(device.getSampleRate(), 6000000u);
    EXPECT_EQ(device.getFrequency(), 1300000000u);
    EXPECT_TRUE(log.has("Changing sdrplay fr freq. to 1300000000"));

    device.setGain(20);
    EXPECT_EQ(fake.calls().back(), "Update(A Tuner_Gr gr=59)") << "least gain, most reduction";
}

TEST(SDRPlayDevice, GainsOutsideTwentyToFiftyNineChangeNothingWhenClosed)
{
    FakeSdrplay fake;
    SDRPlayDevice device(fake.library(), fake.devices[0]);
    device.setGain(30);
    device.setGain(60);
    device.setGain(19);
    EXPECT_EQ(device.getGain(), 30);
    device.setGain(59);
    EXPECT_EQ(device.getGain(), 59);
    EXPECT_TRUE(fake.calls().empty());
}

TEST(SDRPlayDevice, FailedUpdatesAreLoggedAndKeepTheStoredValues)
{
    FakeSdrplay fake;
    SDRPlayDevice device(fake.library(), fake.devices[0]);
    device.setGain(30);
    device.setFrequency(1000000000);
    ReceivedSamples received;
    ASSERT_FALSE(device.open(received.callback));
    fake.failing = "Update";
    LogCapture log;
    device.setFrequency(1100000000);
    device.setGain(50);
    device.setSampleRateIndex(1);
    EXPECT_EQ(device.getFrequency(), 1000000000u);
    EXPECT_EQ(device.getGain(), 30);
    EXPECT_TRUE(log.has("SDRPlayDevice::setFrequency: An error occured setting the RF Frequency to 1100000000. "
                        "sdrplay_api_Fail"));
    EXPECT_TRUE(log.has("SDRPlayDevice::setGain: An error occured setting the RF gain. sdrplay_api_Fail"));
    EXPECT_TRUE(log.has("sdrplay_api_Update sdrplay_api_Update_Dev_Fs failed: 1"));
    EXPECT_TRUE(log.has("sdrplay_api_Update sdrplay_api_Update_Tuner_BwType failed: 1"));
}

TEST(SDRPlayDevice, EveryFailedOpenStepIsLoggedGivesTheDeviceBackAndLeavesNothingActive)
{
    struct Step {
        std::string failing;
        std::string line;   // empty: no message
        Calls tail;
    };
    const std::vector<Step> steps{
        {"SelectDevice", "sdrplay_api_SelectDevice failed:", {"SelectDevice(1812000A17)", "UnlockDeviceApi()"}},
        {"GetDeviceParams", "sdrplay_api_GetDeviceParams failed:", {"GetDeviceParams()", "ReleaseDevice(1812000A17)"}},
        {"Init", "sdrplay_api_Init failed with err: sdrplay_api_Fail",
         {"Init(fs=8000000 bw=8000 if=0 gr=40 lna=1 agc=0)", "ReleaseDevice(1812000A17)"}},
        {"no block", "", {"GetDeviceParams()", "ReleaseDevice(1812000A17)"}},
        {"no tuner B", "", {"GetDeviceParams()", "ReleaseDevice(1812000A17)"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.failing);
        FakeSdrplay fake;
        fake.failing = step.failing;
        fake.noParameterBlock = step.failing == "no block";
        SDRPlayDevice device(fake.library(), fake.devices[0]);
        if (step.failing == "no tuner B")
            device.setRXChannel(1);
        ReceivedSamples received;
        {
            LogCapture log;
            EXPECT_TRUE(device.open(received.callback));
            const std::vector<std::string> lines = log.lines();
            if (step.line.empty()) {
                EXPECT_TRUE(lines.empty());
            } else {
                ASSERT_FALSE(lines.empty());
                EXPECT_EQ(lines[0], step.line);
                if (step.line.back() == ':') {
                    ASSERT_EQ(lines.size(), 2u) << "the error text on its own indented line";
                    EXPECT_EQ(lines[1], "  sdrplay_api_Fail");
                }
            }
        }
        const Calls calls = fake.calls();
        ASSERT_GE(calls.size(), step.tail.size());
        EXPECT_EQ(Calls(calls.end() - long(step.tail.size()), calls.end()), step.tail);
        EXPECT_EQ(SDRPlayDevice::activeDevice(), nullptr);
        device.close();
        EXPECT_EQ(fake.calls().size(), calls.size()) << "a failed open leaves nothing to close";

        fake.failing.clear();
        fake.noParameterBlock = false;
        fake.dualTuner = true;
        EXPECT_FALSE(device.open(received.callback)) << "the device can be opened again";
        device.close();
    }
}

TEST(SDRPlayDevice, TunerBIsUsedForAnyOtherRxChannel)
{
    FakeSdrplay fake;
    fake.dualTuner = true;
    SDRPlayDevice device(fake.library(), fake.devices[0]);
    {
        LogCapture log;
        device.setRXChannel(1);
        EXPECT_TRUE(log.has("SDRPlayDevice::setRXChannel(1)"));
    }
    ReceivedSamples received;
    ASSERT_FALSE(device.open(received.callback));
    EXPECT_EQ(fake.calls().back(), "Init(fs=8000000 bw=8000 if=0 gr=40 lna=1 agc=0 B)");
    EXPECT_EQ(fake.channelA.tunerParams.gain.gRdB, 0) << "tuner A untouched";
    device.setGain(39);
    EXPECT_EQ(fake.calls().back(), "Update(B Tuner_Gr gr=40)");
}

TEST(SDRPlayDevice, OnlyOneDeviceStreamsAtATime)
{
    FakeSdrplay fake;
    fake.devices.push_back(FakeSdrplay::record("1812000B42", 3, sdrplay_api_Tuner_A));
    SDRPlayDevice first(fake.library(), fake.devices[0]);
    SDRPlayDevice second(fake.library(), fake.devices[1]);
    ReceivedSamples a, b;
    ASSERT_FALSE(first.open(a.callback));
    const size_t opened = fake.calls().size();
    {
        LogCapture log;
        EXPECT_TRUE(second.open(b.callback));
        EXPECT_TRUE(first.open(a.callback)) << "already streaming";
        EXPECT_TRUE(log.lines().empty());
    }
    second.close();   // not open: must not end the other's turn
    EXPECT_EQ(fake.calls().size(), opened);
    EXPECT_EQ(SDRPlayDevice::activeDevice(), &first);
    EXPECT_TRUE(second.open(b.callback));

    first.close();
    ASSERT_FALSE(second.open(b.callback));
    EXPECT_EQ(fake.calls().back(), "Init(fs=8000000 bw=8000 if=0 gr=40 lna=1 agc=0)");
    EXPECT_EQ(SDRPlayDevice::activeDevice(), &second);
}

TEST(SDRPlayDevice, CloseWaitsWhileTheApiIsStillStoppingAndLogsAFinalError)
{
    FakeSdrplay fake;
    SDRPlayDevice device(fake.library(), fake.devices[0]);
    ReceivedSamples received;
    ASSERT_FALSE(device.open(received.callback));
    fake.stopPendingUninits = 3;
    {
        LogCapture log;
        device.close();
        EXPECT_EQ(log.lines(), (std::vector<std::string>{
                                   "SDRPlayDevice::close",
                                   "sdrplay_api_Uninit returned sdrplay_api_StopPending, so let's wait for 100ms", ".",
                                   "."}));
    }
    EXPECT_EQ(callsSince(fake, kOpenCalls.size()),
              (Calls{"Uninit()", "Uninit()", "Uninit()", "Uninit()", "ReleaseDevice(1812000A17)"}));

    ASSERT_FALSE(device.open(received.callback));
    fake.failing = "Uninit";
    LogCapture log;
    device.close();
    EXPECT_TRUE(log.has("sdrplay_api_Uninit returned err: sdrplay_api_Fail"));
    EXPECT_EQ(fake.calls().back(), "ReleaseDevice(1812000A17)");
    EXPECT_EQ(SDRPlayDevice::activeDevice(), nullptr);
}

TEST(SDRPlayDevice, SamplesPassUnchangedFromTheIAndQArrays)
{
    FakeSdrplay fake;
    fake.stream = {-32768, 32767, 0, -1, 1234, -4321};
    fake.samplesPerCallback = 2;
    ReceivedSamples received;
    {
        SDRPlayDevice device(fake.library(), fake.devices[0]);
        ASSERT_FALSE(device.open(received.callback));
        ASSERT_TRUE(testsupport::waitUntil([&] { return fake.streamDelivered(); }));
    }   // destruction closes
    EXPECT_EQ(received.samples(), fake.stream);
    EXPECT_EQ(fake.calls().back(), "ReleaseDevice(1812000A17)");
    EXPECT_EQ(SDRPlayDevice::activeDevice(), nullptr);
}

TEST(SDRPlayDevice, ListedAfterTheRtlsdrDongles_TheApiClosedAfterItsDevices)
{
    FakeRtlsdr rtlsdr;
    FakeSdrplay fake;
    fake.devices.push_back(FakeSdrplay::record("S2", 3, sdrplay_api_Tuner_B));
    DeviceLibraries libraries;
    libraries.rtlsdr = &rtlsdr.library();
    libraries.sdrplay = &fake.library();
    ReceivedSamples received;
    {
        DeviceEnumerator enumerator(libraries);
        const std::vector<InputDevice*>& devices = enumerator.devices();
        ASSERT_EQ(devices.size(), 4u);
        EXPECT_EQ(devices[0]->getTypeName(), "RTLSDRDevice");
        EXPECT_EQ(devices[1]->getTypeName(), "SDRPlayDevice");
        EXPECT_EQ(devices[1]->getDeviceName(), "sdrplay | SerNo: 1812000A17, hwVer: 255, tuner: 0x01");
        EXPECT_EQ(devices[2]->getDeviceName(), "sdrplay | SerNo: S2, hwVer: 3, tuner: 0x02");
        EXPECT_EQ(devices[3]->getTypeName(), "TCPInputDevice");
        EXPECT_EQ(fake.calls(), (Calls{"Open()", "LockDeviceApi()", "GetDevices(8)", "UnlockDeviceApi()"}));
        EXPECT_EQ(devices[1]->getSampleRates(), (std::vector<uint64_t>{8000000, 9000000, 10000000, 7000000, 6000000,
                                                                       5000000}));
        EXPECT_EQ(devices[1]->getMinFrequency(), 100u);
        EXPECT_EQ(devices[1]->getMaxFrequency(), 2000000u);
        ASSERT_FALSE(devices[2]->open(received.callback));
    }
    const Calls calls = fake.calls();
    EXPECT_EQ(Calls(calls.end() - 3, calls.end()), (Calls{"Uninit()", "ReleaseDevice(S2)", "Close()"}));
}

TEST(SDRPlayDevice, AnApiThatCannotBeOpenedListsNoDeviceAndSaysNothing)
{
    FakeSdrplay fake;
    fake.failing = "Open";
    DeviceLibraries libraries;
    libraries.sdrplay = &fake.library();
    Calls calls;
    {
        LogCapture log;
        DeviceEnumerator enumerator(libraries);
        ASSERT_EQ(enumerator.devices().size(), 1u);
        EXPECT_EQ(enumerator.devices()[0]->getTypeName(), "TCPInputDevice");
        EXPECT_TRUE(log.lines().empty());
    }
    EXPECT_EQ(fake.calls(), (Calls{"Open()", "Close()"})) << "closed whether or not it opened";
}

TEST(SdrplayLibrary, AMissingOrForeignLibraryIsOneLogLineAndNoTable)
{
    SdrplayLibrary table{};
    {
        LogCapture log;
        EXPECT_FALSE(loadSdrplayLibrary("libtavirel_absent_sdrplay_api.so.3", table));
        EXPECT_EQ(log.lines(), (std::vector<std::string>{
                                   "SDRplay API library libtavirel_absent_sdrplay_api.so.3 not found, no SDRplay devices"}));
    }
    {
        LogCapture log;
        EXPECT_FALSE(loadSdrplayLibrary("libm.so.6", table));
        EXPECT_EQ(log.lines(),
                  (std::vector<std::string>{"SDRplay API library libm.so.6 has no sdrplay_api_Open, no SDRplay devices"}));
    }
    EXPECT_EQ(table.Open, nullptr) << "nothing half filled";
}

TEST(SdrplayLibrary, TheInstalledApiIsLoadedByItsFunctionNamesAndListsItsReceivers)
{
    SdrplayLibrary table{};
    {
        LogCapture log;
        ASSERT_TRUE(loadSdrplayLibrary(TAVIREL_SDRPLAY_MODULE, table));
        EXPECT_TRUE(log.lines().empty());
    }
    EXPECT_STREQ(table.GetErrorString(sdrplay_api_Fail), "module: fail");
    DeviceLibraries libraries;
    libraries.sdrplay = &table;
    DeviceEnumerator enumerator(libraries);
    ASSERT_EQ(enumerator.devices().size(), 2u);
    EXPECT_EQ(enumerator.devices()[0]->getDeviceName(), "sdrplay | SerNo: MODULE1, hwVer: 2, tuner: 0x01");
    ReceivedSamples received;
    EXPECT_TRUE(enumerator.devices()[0]->open(received.callback)) << "the module gives no parameter block";
    EXPECT_EQ(SDRPlayDevice::activeDevice(), nullptr);
}

// The transmitter's signal as the API's I and Q arrays, through the device
// into the receiver, comes out as the transmitted TS.
TEST(SDRPlayDevice, TransmittedSignalDecodesToItsTransportStream)
{
    const std::string tsFile = std::string(TAVIREL_TEST_DATA) + "/dvbs2_qpsk12_normal_pilots.ts";
    const std::vector<uint8_t> sent = testsupport::readFile(tsFile);
    const std::vector<uint8_t> bytes = transmitterSamples("s16", 8000000, tsFile, 32);
    ASSERT_FALSE(bytes.empty());
    for (const bool inRuns : {false, true}) {
        SCOPED_TRACE(inRuns ? "in runs" : "sample by sample");
        FakeSdrplay fake;
        fake.stream.resize(bytes.size() / 2);
        for (size_t k = 0; k < fake.stream.size(); ++k)
            fake.stream[k] = int16_t(uint16_t(bytes[2 * k] | bytes[2 * k + 1] << 8));
        fake.stream.resize(fake.stream.size() + 2 * 2 * 16384, 0);   // silence pushes the last block through
        SDRPlayDevice device(fake.library(), fake.devices[0]);
        const std::vector<uint8_t> ts =
            receiveThroughChain(device, 8000000, inRuns, [&] { return fake.streamDelivered(); });
        EXPECT_GT(ts.size() / 188, 450u) << "all but the frames before the lock of the 580 sent";
        EXPECT_EQ(testsupport::packetsInOrder(ts, sent), ts.size() / 188);
    }
}
