// The LimeSDR device against a stand-in for LimeSuite.
#include "devices/DeviceEnumerator.h"
#include "devices/lime/LimeSDRDevice.h"
#include "tests/TestSupport.h"
#include "tests/devices/FakeLime.h"
#include "tests/devices/FakeRtlsdr.h"
#include "tests/devices/LineRuns.h"
#include "tests/devices/LogCapture.h"
#include "tests/devices/RadioChain.h"
#include "tests/devices/ReceivedSamples.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>

namespace {

using Lines = std::vector<std::string>;

const std::string kInfo = "LimeSDR Mini, media=USB 3.0, module=FT601, addr=24607:1027, serial=1D3AC3";

bool startedStreaming(const FakeLime& fake)
{
    return testsupport::waitUntil([&] { return fake.started(); });
}

} // namespace

TEST(LimeSDRDevice, OpenSetsTheChannelUpInOrderLoggingEachCallAndStreams)
{
    FakeLime fake;
    LogCapture log;
    LimeSDRDevice device(fake.library(), kInfo, 0);
    device.setDeviceName("limesuite | " + kInfo);
    device.setRXChannel(1);
    device.setRXPath(2);
    device.setFrequency(1210000000);
    device.setGain(512);
    device.setSampleRateIndex(7);
    device.setFilterBandwidth(5000000);
    EXPECT_TRUE(fake.calls().empty()) << "closed: setters only store";
    EXPECT_EQ(device.getSampleRate(), 20000000u);
    EXPECT_EQ(device.getFilterBandwidth(), 0u) << "no filter range before the first open";
    EXPECT_TRUE(log.has("LimeSDRDevice::setFilterBandwidth(5000000), min: 0, max: 0"));
    EXPECT_TRUE(log.has("LimeSDRDevice::setRXChannel(1)"));
    EXPECT_TRUE(log.has("LimeSDRDevice::setRXPath(2)"));

    ReceivedSamples received;
    ASSERT_FALSE(device.open(received.callback));
    ASSERT_TRUE(startedStreaming(fake));
    EXPECT_EQ(fake.calls(), (Lines{"Open(" + kInfo + ")", "Init()", "GetLPFBWRange(rx)", "GetNumChannels(rx)",
                                   "EnableChannel(rx, 1, true)", "SetAntenna(rx, 1, 2)",
                                   "SetLOFrequency(rx, 1, 1210000000)", "SetLPF(rx, 1, true)",
                                   "SetSampleRate(10000000, 0)", "SetTestSignal(rx, 1, 0, 0, 0)",
                                   "SetNormalizedGain(rx, 1, 0.5)", "SetupStream(rx, 1, 32768, 0.800000, 2)",
                                   "StartStream()"}));
    EXPECT_TRUE(containsRun(
        log.lines(), {"devstr: " + kInfo, "LMS_Open(dev, devstr, NULL)", "LMS_Init(dev)",
                      "LMS_GetLPFBWRange(dev, LMS_CH_RX, &filter_bw)",
                      "LMS filter bw min: 1400000, max: 130000000, step: 1", "LMS_GetNumChannels(dev, LMS_CH_RX)",
                      "LMS number of rx channels: 2", "LMS_EnableChannel(dev, LMS_CH_RX, 1, true)",
                      "LMS_SetAntenna(dev, LMS_CH_RX, 1, 2)", "LMS_SetLOFrequency(dev, LMS_CH_RX, 1, 1210000000)",
                      "LMS_SetLPF(dev, LMS_CH_RX, 1, true)", "Setting LimeSDR Bandwidth to 10000000",
                      "LMS_SetSampleRate(dev, 10000000, 0)",
                      "LMS_SetTestSignal(dev, LMS_CH_RX, 1, LMS_TESTSIG_NONE, 0, 0)",
                      "LMS_SetNormalizedGain(dev, LMS_CH_RX, 1, 0.5)", "LMS_SetupStream(dev, &streamId)",
                      "LMS_StartStream(&streamId)"}));
    EXPECT_EQ(device.getSampleRate(), 10000000u) << "always the first listed rate";
    ASSERT_TRUE(testsupport::waitUntil([&] { return fake.reads() > 0; })) << "the stream thread reads";

    // Open: the setters reach the radio on the channel it was opened with.
    device.setRXChannel(0);
    device.setFrequency(1300000000);
    device.setGain(256);
    device.setFilterBandwidth(5000000);
    device.setFilterBandwidth(1000);        // below the range: ignored
    device.setFilterBandwidth(200000000);   // above it: ignored
    EXPECT_EQ(lastEntries(fake.calls(), 3),
              (Lines{"SetLOFrequency(rx, 1, 1300000000)", "SetNormalizedGain(rx, 1, 0.25)", "SetLPFBW(rx, 1, 5000000)"}));
    EXPECT_EQ(device.getFilterBandwidth(), 5000000u);
    EXPECT_TRUE(containsRun(log.lines(), {"LimeSDRDevice::setFilterBandwidth(5000000), min: 1400000, max: 130000000",
                                          "LMS_SetLPFBW(dev, LMS_CH_RX, 1, 5000000)"}));

    // A rate change stops the stream, sets the rate and starts it again.
    device.setSampleRateIndex(8);
    EXPECT_EQ(lastEntries(fake.calls(), 3), (Lines{"StopStream()", "SetSampleRate(25000000, 0)", "StartStream()"}));
    EXPECT_TRUE(containsRun(log.lines(), {"Setting LimeSDR Bandwidth to 25000000", "LMS_StopStream(&streamId)",
                                          "LMS_SetSampleRate(dev, 25000000, 0)", "LMS_StartStream(&streamId)"}));

    device.close();
    EXPECT_EQ(lastEntries(fake.calls(), 3), (Lines{"StopStream()", "DestroyStream()", "Close()"}));
    EXPECT_EQ(lastEntries(log.lines(), 7),
              (Lines{"LimeSDRDevice::close()", "LMS_StopStream(&streamId)", "LMS stream stopped!", "thread joined!",
                     "LMS_DestroyStream(dev, &streamId)", "LMS_Close(dev)", "limesdr dev closed successfully!"}));
    const size_t reads = fake.reads();
    const size_t calls = fake.calls().size();
    device.close();   // closed: nothing
    device.setFrequency(1100000000);
    device.setSampleRateIndex(2);
    EXPECT_EQ(fake.calls().size(), calls);
    EXPECT_EQ(fake.reads(), reads) << "the stream thread has been joined";
    EXPECT_FALSE(fake.started());
    EXPECT_TRUE(fake.violations().empty());
}

TEST(LimeSDRDevice, EachFailingOpenStepLogsTheDeviceClosesItAndStartsNothing)
{
    const std::string name = "limesuite | " + kInfo;
    struct Case {
        const char* failing;
        Lines calls;
        Lines logTail;
    };
    const Case cases[] = {
        {"Open", {"Open(" + kInfo + ")"}, {"LMS_Open(dev, devstr, NULL)", "LMS_Open failed for \"" + name + "\""}},
        {"Init",
         {"Open(" + kInfo + ")", "Init()", "Close()"},
         {"LMS_Init(dev)", "LMS_Close(dev)", "LMS_Init failed for \"" + name + "\""}},
        {"SetupStream",
         {"SetupStream(rx, 0, 32768, 0.800000, 2)", "Close()"},
         {"LMS_SetupStream(dev, &streamId)", "LMS_Close(dev)", "LMS_SetupStream failed for \"" + name + "\""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        FakeLime fake;
        fake.failing = c.failing;
        LogCapture log;
        LimeSDRDevice device(fake.library(), kInfo, 0);
        device.setDeviceName(name);
        ReceivedSamples received;
        EXPECT_TRUE(device.open(received.callback));
        EXPECT_EQ(lastEntries(fake.calls(), c.calls.size()), c.calls);
        EXPECT_EQ(lastEntries(log.lines(), c.logTail.size()), c.logTail);
        EXPECT_EQ(fake.reads(), 0u) << "no stream thread";
        const size_t calls = fake.calls().size();
        device.setFrequency(100000000);
        device.setGain(10);
        device.close();
        EXPECT_EQ(fake.calls().size(), calls) << "no handle: no calls";
    }
}

TEST(LimeSDRDevice, AChannelTheRadioDoesNotHaveFallsBackToTheFirst)
{
    FakeLime fake;
    fake.rxChannels = 1;
    LogCapture log;
    LimeSDRDevice device(fake.library(), kInfo, 0);
    device.setRXChannel(3);
    ReceivedSamples received;
    ASSERT_FALSE(device.open(received.callback));
    ASSERT_TRUE(startedStreaming(fake));
    EXPECT_TRUE(containsRun(log.lines(), {"LMS number of rx channels: 1",
                                          "rx channel set(3) is greater than maximum (1), setting defaults.",
                                          "LimeSDRDevice::setRXChannel(0)", "LMS_EnableChannel(dev, LMS_CH_RX, 0, true)"}));
    const Lines calls = fake.calls();
    EXPECT_TRUE(containsRun(calls, {"EnableChannel(rx, 0, true)", "SetAntenna(rx, 0, 3)"})) << "channel 0, path LNAW";
    EXPECT_TRUE(containsRun(calls, {"SetupStream(rx, 0, 32768, 0.800000, 2)"}));
}

TEST(LimeSDRDevice, TwelveBitSamplesAreScaledToSixteenBits)
{
    FakeLime fake;
    fake.stream = {2047, -2048, -1, 0, 1, 100};
    fake.samplesPerRead = 2;
    ReceivedSamples received;
    {
        LimeSDRDevice device(fake.library(), kInfo, 0);
        ASSERT_FALSE(device.open(received.callback));
        ASSERT_TRUE(testsupport::waitUntil([&] { return received.count() == 3; }));
    }   // destruction closes
    EXPECT_EQ(received.samples(), (std::vector<int16_t>{32752, -32768, -16, 0, 16, 1600}));
    EXPECT_EQ(lastEntries(fake.calls(), 2), (Lines{"DestroyStream()", "Close()"}));
}

// A radio that stops answering (every read fails at once) delivers nothing
// and still closes.
TEST(LimeSDRDevice, FailingReadsDeliverNothingAndStillClose)
{
    FakeLime fake;
    fake.failing = "RecvStream";
    fake.stream = {1, 2, 3, 4};
    LimeSDRDevice device(fake.library(), kInfo, 0);
    ReceivedSamples received;
    ASSERT_FALSE(device.open(received.callback));
    ASSERT_TRUE(testsupport::waitUntil([&] { return fake.reads() >= 3; })) << "it keeps trying";
    device.close();
    EXPECT_EQ(received.count(), 0u);
    EXPECT_EQ(lastEntries(fake.calls(), 3), (Lines{"StopStream()", "DestroyStream()", "Close()"}));
}

// The stream thread reads while the window changes the rate: no stop, start or
// rate change may fall inside a read, and the stream runs on afterwards.
TEST(LimeSDRDevice, RateChangesWhileStreamingNeverOverlapARead)
{
    FakeLime fake;
    fake.stream.assign(2 * 400000, 7);
    fake.samplesPerRead = 1000;
    LimeSDRDevice device(fake.library(), kInfo, 0);
    ReceivedSamples received;
    ASSERT_FALSE(device.open(received.callback));
    ASSERT_TRUE(startedStreaming(fake));
    for (unsigned i = 0; i < 40; ++i) {
        device.setSampleRateIndex(i % 10);
        device.setGain(int(i));
        device.setFrequency(1000000000 + i);
    }
    ASSERT_TRUE(testsupport::waitUntil([&] { return fake.streamDelivered(); }, 60000));
    ASSERT_TRUE(testsupport::waitUntil([&] { return received.count() == 400000; }));
    device.close();
    EXPECT_TRUE(fake.violations().empty()) << fake.violations().front();
    EXPECT_FALSE(fake.started());
}

TEST(LimeSDRDevice, ListedAfterTheRtlsdrDongles)
{
    FakeRtlsdr rtlsdr;
    FakeLime fake;
    fake.infos = {kInfo, "LimeSDR-USB, media=USB 3.0, module=FX3, addr=1d50:6108, serial=0009060B00471B22"};
    DeviceLibraries libraries;
    libraries.rtlsdr = &rtlsdr.library();
    libraries.lime = &fake.library();
    {
        DeviceEnumerator enumerator(libraries);
        const std::vector<InputDevice*>& devices = enumerator.devices();
        ASSERT_EQ(devices.size(), 4u);
        EXPECT_EQ(devices[0]->getTypeName(), "RTLSDRDevice");
        EXPECT_EQ(devices[1]->getTypeName(), "LimeSDRDevice");
        EXPECT_EQ(devices[1]->getDeviceName(), "limesuite | " + kInfo);
        EXPECT_EQ(devices[2]->getDeviceName(), "limesuite | " + fake.infos[1]);
        EXPECT_EQ(static_cast<LimeSDRDevice*>(devices[2])->getListIndex(), 1);
        EXPECT_EQ(devices[3]->getTypeName(), "TCPInputDevice");
        EXPECT_EQ(devices[1]->getSampleRates(),
                  (std::vector<uint64_t>{10000000, 8000000, 2000000, 2400000, 4000000, 10000000, 15000000, 20000000,
                                         25000000, 30000000}));
        EXPECT_TRUE(devices[1]->hasFilterBandwidth());
        EXPECT_EQ(devices[1]->getMaxGain(), 1024);
        EXPECT_EQ(devices[1]->getMinFrequency(), 10000u);

        // Each opens the radio of its own entry.
        ReceivedSamples received;
        ASSERT_FALSE(devices[2]->open(received.callback));
        EXPECT_EQ(fake.calls().front(), "Open(" + fake.infos[1] + ")");
        devices[2]->close();
    }

    fake.listError = -1;
    LogCapture log;
    DeviceEnumerator failed(libraries);
    EXPECT_TRUE(log.has("LMS_GetDeviceList returned an error: -1"));
    ASSERT_EQ(failed.devices().size(), 2u) << "the dongle and the TCP input";
    EXPECT_EQ(failed.devices()[1]->getTypeName(), "TCPInputDevice");
}

// The transmitter's signal as the radio's 12-bit samples, through the
// device's conversion into the receiver, comes out as the transmitted TS.
TEST(LimeSDRDevice, TransmittedSignalDecodesToItsTransportStream)
{
    const std::string tsFile = std::string(TAVIREL_TEST_DATA) + "/dvbs2_qpsk12_normal_pilots.ts";
    const std::vector<uint8_t> sent = testsupport::readFile(tsFile);
    const uint64_t rate = 10000000;   // the rate the device opens with
    const std::vector<uint8_t> bytes = transmitterSamples("s16", rate, tsFile, 12);
    ASSERT_FALSE(bytes.empty());
    FakeLime fake;
    fake.stream.resize(bytes.size() / 2);
    std::memcpy(fake.stream.data(), bytes.data(), bytes.size() & ~size_t(1));
    for (int16_t& v : fake.stream)
        v = int16_t(v / 16);                            // 12-bit, as the radio gives them
    fake.stream.resize(fake.stream.size() + 2 * 16384, 0);   // silence pushes the last block through
    LimeSDRDevice device(fake.library(), kInfo, 0);
    const std::vector<uint8_t> ts = receiveThroughChain(device, rate, true, [&] { return fake.streamDelivered(); });
    EXPECT_GT(ts.size() / 188, 150u) << "all but the frames before the lock of the 12 sent";
    EXPECT_EQ(testsupport::packetsInOrder(ts, sent), ts.size() / 188);
}
