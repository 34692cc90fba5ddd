// The RTL-SDR device against a stand-in for librtlsdr.
#include "devices/DeviceEnumerator.h"
#include "devices/rtlsdr/RTLSDRDevice.h"
#include "tests/TestSupport.h"
#include "tests/devices/FakeRtlsdr.h"
#include "tests/devices/LogCapture.h"
#include "tests/devices/RadioChain.h"
#include "tests/devices/ReceivedSamples.h"

#include <gtest/gtest.h>

#include <mutex>

namespace {

using Calls = std::vector<std::string>;

} // namespace

TEST(RTLSDRDevice, OpenSetsTheDongleUpInOrderAndStartsAtTheFirstRate)
{
    FakeRtlsdr fake;
    RTLSDRDevice device(fake.library(), 0);
    device.setDeviceName("dongle");
    device.setFrequency(1210000000);
    device.setGain(372);
    device.setSampleRateIndex(3);
    EXPECT_TRUE(fake.calls().empty()) << "closed: setters only store";
    EXPECT_EQ(device.getSampleRate(), 1800000u);

    ReceivedSamples received;
    ASSERT_FALSE(device.open(received.callback));
    ASSERT_TRUE(testsupport::waitUntil([&] { return fake.reading(); }));
    EXPECT_EQ(fake.calls(), (Calls{"open(0)", "set_tuner_gain_mode(1)", "set_agc_mode(0)", "set_testmode(0)",
                                   "set_direct_sampling(0)", "set_offset_tuning(0)", "reset_buffer()",
                                   "set_center_freq(1210000000)", "set_tuner_gain(372)", "set_sample_rate(2400000)",
                                   "read_async()"}));
    EXPECT_EQ(device.getSampleRate(), 2400000u) << "always the first listed rate";

    // Open: every setter reaches the dongle.
    device.setFrequency(1300000000);
    device.setGain(100);
    device.setSampleRateIndex(1);
    device.setSampleRateIndex(40);   // past the list: nothing changes but the call
    const Calls after = fake.calls();
    EXPECT_EQ(Calls(after.end() - 4, after.end()),
              (Calls{"set_center_freq(1300000000)", "set_tuner_gain(100)", "set_sample_rate(2800000)",
                     "set_sample_rate(2800000)"}));

    device.close();
    const Calls closing = fake.calls();
    EXPECT_EQ(closing[closing.size() - 2], "cancel_async()");
    EXPECT_EQ(closing.back(), "close()");
    EXPECT_FALSE(fake.reading()) << "the read thread has been joined";
    device.close();   // closed: nothing
    EXPECT_EQ(fake.calls().size(), closing.size());
    device.setGain(5);
    EXPECT_EQ(fake.calls().size(), closing.size());
    EXPECT_EQ(device.getGain(), 5);
}

TEST(RTLSDRDevice, AFailedOpenLogsTheDeviceAndLeavesNothingRunning)
{
    FakeRtlsdr fake;
    fake.failing = "open";
    RTLSDRDevice device(fake.library(), 2);
    device.setDeviceName("librtlsdr | <unknown>");
    ReceivedSamples received;
    LogCapture log;
    EXPECT_TRUE(device.open(received.callback));
    EXPECT_TRUE(log.has("rtlsdr_open failed for \"librtlsdr | <unknown>\""));
    EXPECT_EQ(fake.calls(), (Calls{"open(2)"}));
    device.setFrequency(100000000);
    device.close();
    EXPECT_EQ(fake.calls(), (Calls{"open(2)"})) << "no handle: no calls";
}

TEST(RTLSDRDevice, OffsetBinaryBytesBecomeSixteenBitSamplesOneByOneOrInRuns)
{
    FakeRtlsdr fake;
    fake.stream = {0x80, 0x00, 0xFF, 0x7F, 0x00, 0x81};
    {
        RTLSDRDevice device(fake.library(), 0);
        ReceivedSamples received;
        ASSERT_FALSE(device.open(received.callback));
        ASSERT_TRUE(testsupport::waitUntil([&] { return received.count() == 3; }));
        EXPECT_EQ(received.samples(), (std::vector<int16_t>{0, -32768, 32512, -256, -32768, 256}));
    }   // destruction closes
    EXPECT_EQ(fake.calls().back(), "close()");
}

TEST(RTLSDRDevice, RunsGoToTheBlockCallbackWhenOneIsSet)
{
    FakeRtlsdr fake;
    fake.bufferBytes = 4;
    fake.stream = {0x80, 0x00, 0xFF, 0x7F, 0x00, 0x81};
    RTLSDRDevice device(fake.library(), 0);
    std::mutex mutex;
    std::vector<std::vector<int16_t>> runs;
    SampleBlockCallback blocks = [&](const int16_t* iq, size_t count) {
        std::lock_guard<std::mutex> lock(mutex);
        runs.emplace_back(iq, iq + 2 * count);
    };
    device.setBlockCallback(&blocks);
    ReceivedSamples perSample;
    ASSERT_FALSE(device.open(perSample.callback));
    ASSERT_TRUE(testsupport::waitUntil([&] { return fake.streamDelivered(); }));
    device.close();
    ASSERT_EQ(runs.size(), 2u) << "one run per library buffer";
    EXPECT_EQ(runs[0], (std::vector<int16_t>{0, -32768, 32512, -256}));
    EXPECT_EQ(runs[1], (std::vector<int16_t>{-32768, 256}));
    EXPECT_EQ(perSample.count(), 0u);
}

TEST(RTLSDRDevice, ListedByTheEnumeratorWithTheirUsbStringsBeforeTheTcpInput)
{
    FakeRtlsdr fake;
    fake.dongles = {{"Realtek", "RTL2838UHIDIR", "00000001", "Generic RTL2832U OEM"},
                    {"", "", "", "Generic", false}};
    DeviceLibraries libraries;
    libraries.rtlsdr = &fake.library();
    DeviceEnumerator enumerator(libraries);
    const std::vector<InputDevice*>& devices = enumerator.devices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0]->getTypeName(), "RTLSDRDevice");
    EXPECT_EQ(devices[0]->getDeviceName(),
              "librtlsdr | MF: Realtek, PROD: RTL2838UHIDIR, SERIAL: 00000001, NAME: Generic RTL2832U OEM");
    EXPECT_EQ(devices[1]->getDeviceName(), "librtlsdr | <unknown>");
    EXPECT_EQ(devices[2]->getTypeName(), "TCPInputDevice");
    EXPECT_EQ(devices[0]->getSampleRates().front(), 2400000u);
    EXPECT_EQ(devices[0]->getMaxGain(), 800);
    EXPECT_EQ(devices[0]->getMaxFrequency(), 2150000u);
    EXPECT_FALSE(devices[0]->hasFilterBandwidth());

    DeviceEnumerator none{DeviceLibraries()};
    ASSERT_EQ(none.devices().size(), 1u) << "without radio libraries only the TCP input";
}

// The transmitter's signal as the dongle's offset-binary bytes, through the
// device's conversion into the receiver, comes out as the transmitted TS.
TEST(RTLSDRDevice, TransmittedSignalDecodesToItsTransportStream)
{
    const std::string tsFile = std::string(TAVIREL_TEST_DATA) + "/dvbs2_qpsk12_normal_pilots.ts";
    const std::vector<uint8_t> sent = testsupport::readFile(tsFile);
    for (const bool inRuns : {false, true}) {
        SCOPED_TRACE(inRuns ? "in runs" : "sample by sample");
        FakeRtlsdr fake;
        fake.stream = transmitterSamples("u8", 2400000, tsFile, 32);
        ASSERT_FALSE(fake.stream.empty());
        fake.stream.resize(fake.stream.size() + 2 * 16384, 0x80);   // silence pushes the last block through
        RTLSDRDevice device(fake.library(), 0);
        const std::vector<uint8_t> ts =
            receiveThroughChain(device, 2400000, inRuns, [&] { return fake.streamDelivered(); });
        EXPECT_GT(ts.size() / 188, 450u) << "all but the frames before the lock of the 580 sent";
        EXPECT_EQ(testsupport::packetsInOrder(ts, sent), ts.size() / 188);
    }
}
