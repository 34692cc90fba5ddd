// The PlutoSDR device against a stand-in for libiio.
#include "devices/DeviceEnumerator.h"
#include "devices/pluto/PlutoSDRDevice.h"
#include "tests/TestSupport.h"
#include "tests/devices/FakeIio.h"
#include "tests/devices/FakeLime.h"
#include "tests/devices/FakeRtlsdr.h"
#include "tests/devices/LineRuns.h"
#include "tests/devices/LogCapture.h"
#include "tests/devices/RadioChain.h"
#include "tests/devices/ReceivedSamples.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <mutex>

namespace {

using Lines = std::vector<std::string>;

// A device on the fake's first local context, as the enumerator makes it.
std::unique_ptr<PlutoSDRDevice> makeDevice(FakeIio& fake)
{
    iio_context* context = fake.library().create_context_from_uri(fake.local.front().uri.c_str());
    auto device = std::make_unique<PlutoSDRDevice>(fake.library(), context);
    device->setDeviceName(fake.local.front().description);
    return device;
}

const std::string kStreamSetup[] = {"context_find_device(cf-ad9361-lpc)", "channel_enable(cf-ad9361-lpc voltage0 in)",
                                    "channel_enable(cf-ad9361-lpc voltage1 in)",
                                    "device_create_buffer(cf-ad9361-lpc, 131072, not cyclic)"};

} // namespace

TEST(PlutoSDRDevice, OpenTunesSetsTheFirstRateAndStreamsUntilClosed)
{
    FakeIio fake;
    std::unique_ptr<PlutoSDRDevice> device = makeDevice(fake);
    const size_t before = fake.calls().size();
    device->setFrequency(5000000000);
    device->setGain(32);
    device->setFilterBandwidth(3000000);
    device->setSampleRateIndex(6);
    EXPECT_EQ(fake.calls().size(), before) << "closed: setters only store";
    EXPECT_EQ(device->getSampleRate(), 20000000u);
    EXPECT_EQ(device->getFrequency(), 5000000000u) << "beyond 32 bits";

    ReceivedSamples received;
    ASSERT_FALSE(device->open(received.callback));
    ASSERT_TRUE(testsupport::waitUntil([&] { return fake.refills() > 6; })) << "the buffer thread refills";
    // The first refill on the buffer thread, every later one on one refill
    // thread that lives as long as the stream.
    EXPECT_EQ(fake.refillThreads(), 2u);
    const Lines all = fake.calls();
    const Lines calls(all.begin() + long(before), all.end());
    EXPECT_EQ(calls, (Lines{"context_find_device(ad9361-phy)",
                            "channel_attr_write_longlong(ad9361-phy altvoltage0 out, frequency, 5000000000)",
                            "channel_attr_write_longlong(ad9361-phy voltage0 in, sampling_frequency, 5000000)",
                            kStreamSetup[0], kStreamSetup[1], kStreamSetup[2], kStreamSetup[3]}))
        << "gain and filter are not written by open";
    EXPECT_EQ(device->getSampleRate(), 5000000u) << "always the first listed rate";
    EXPECT_EQ(fake.buffersAlive(), 1);

    // Open: frequency, rate and filter reach the radio; the gain stays digital.
    LogCapture log;
    device->setFrequency(1210000000);
    device->setSampleRateIndex(7);
    device->setSampleRateIndex(10);   // past the list: the rate stays, written again
    device->setFilterBandwidth(4000000);
    device->setGain(16);
    EXPECT_EQ(lastEntries(fake.calls(), 4),
              (Lines{"channel_attr_write_longlong(ad9361-phy altvoltage0 out, frequency, 1210000000)",
                     "channel_attr_write_longlong(ad9361-phy voltage0 in, sampling_frequency, 2500000)",
                     "channel_attr_write_longlong(ad9361-phy voltage0 in, sampling_frequency, 2500000)",
                     "channel_attr_write_longlong(ad9361-phy voltage0 in, rf_bandwidth, 4000000)"}));
    EXPECT_TRUE(log.has("PlutoSDRDevice::setFilterBandwidth(4000000)"));

    device->close();
    EXPECT_EQ(fake.calls().back(), "buffer_destroy()");
    EXPECT_EQ(fake.buffersAlive(), 0);
    const size_t refills = fake.refills();
    const size_t calls2 = fake.calls().size();
    device->close();   // closed: nothing
    device->setFrequency(1100000000);
    device->setFilterBandwidth(2000000);
    EXPECT_EQ(fake.calls().size(), calls2);
    EXPECT_EQ(fake.refills(), refills) << "buffer and refill threads have been joined";
    EXPECT_EQ(fake.contextsAlive(), 1) << "the context stays open for the next open";

    // Again, on the same context.
    ASSERT_FALSE(device->open(received.callback));
    EXPECT_TRUE(containsRun(fake.calls(), {"channel_attr_write_longlong(ad9361-phy altvoltage0 out, frequency, "
                                           "1100000000)"}));
    device.reset();   // destruction closes and lets the context go
    EXPECT_EQ(fake.buffersAlive(), 0);
    EXPECT_EQ(fake.contextsAlive(), 0);
    EXPECT_EQ(fake.calls().back(), "context_destroy(" + fake.local.front().uri + ")");
}

TEST(PlutoSDRDevice, WithoutItsControlDeviceOpenFailsAndStartsNothing)
{
    FakeIio fake;
    fake.failing = "ad9361-phy";
    std::unique_ptr<PlutoSDRDevice> device = makeDevice(fake);
    LogCapture log;
    ReceivedSamples received;
    EXPECT_TRUE(device->open(received.callback));
    EXPECT_EQ(fake.calls().back(), "context_find_device(ad9361-phy)");
    EXPECT_TRUE(log.lines().empty()) << "fails without a message";
    device->setFrequency(100000000);
    device->close();
    EXPECT_EQ(fake.calls().back(), "context_find_device(ad9361-phy)") << "no calls when closed";
    EXPECT_EQ(fake.refills(), 0u);
}

// Without the streaming device or its buffer the radio counts as open but
// delivers nothing; closing still ends its thread.
TEST(PlutoSDRDevice, WithoutItsStreamItLogsWhyAndDeliversNothing)
{
    struct Case {
        const char* failing;
        const char* line;
        size_t setupCalls;
    };
    const Case cases[] = {{"cf-ad9361-lpc", "can't find plutosdr device cf-ad9361-lpc", 1},
                          {"create_buffer", "PlutoSDRDevice: error creating the libiio device buffer.", 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        FakeIio fake;
        fake.failing = c.failing;
        fake.stream = {1, 2, 3, 4};
        std::unique_ptr<PlutoSDRDevice> device = makeDevice(fake);
        LogCapture log;
        ReceivedSamples received;
        EXPECT_FALSE(device->open(received.callback));
        ASSERT_TRUE(testsupport::waitUntil([&] { return fake.calls().back() == kStreamSetup[c.setupCalls - 1]; }));
        device->close();
        EXPECT_TRUE(log.has(c.line));
        EXPECT_EQ(fake.calls().back(), kStreamSetup[c.setupCalls - 1]) << "and nothing after it";
        EXPECT_EQ(fake.refills(), 0u);
        EXPECT_EQ(received.count(), 0u);
        EXPECT_EQ(fake.buffersAlive(), 0);
    }
}

// A radio that stops answering (every refill fails at once) delivers nothing
// and still closes.
TEST(PlutoSDRDevice, FailingRefillsDeliverNothingAndStillClose)
{
    FakeIio fake;
    fake.failing = "refill";
    fake.stream = {1, 2, 3, 4};
    std::unique_ptr<PlutoSDRDevice> device = makeDevice(fake);
    ReceivedSamples received;
    ASSERT_FALSE(device->open(received.callback));
    ASSERT_TRUE(testsupport::waitUntil([&] { return fake.refills() >= 3; })) << "it keeps trying";
    device->close();
    EXPECT_EQ(received.count(), 0u);
    EXPECT_EQ(fake.buffersAlive(), 0);
    EXPECT_EQ(fake.calls().back(), "buffer_destroy()");
}

TEST(PlutoSDRDevice, TheGainIsADigitalFactorOfSixteenthsTruncatedTowardZero)
{
    struct Case {
        int gain;
        std::vector<int16_t> out;
    };
    const std::vector<int16_t> in = {-31, 31, 2047, -2048, 1, -1, 0, 16};
    const Case cases[] = {
        {16, in},                                             // unity
        {1, {-1, 1, 127, -128, 0, 0, 0, 1}},                  // toward zero, not down
        {256, {-496, 496, 32752, -32768, 16, -16, 0, 256}},   // 12 bits to full scale
        {1024, {-1984, 1984, 32767, -32768, 64, -64, 0, 1024}},   // limited to 16 bits, not wrapped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gain);
        FakeIio fake;
        fake.stream = in;
        std::unique_ptr<PlutoSDRDevice> device = makeDevice(fake);
        device->setGain(c.gain);
        ReceivedSamples received;
        ASSERT_FALSE(device->open(received.callback));
        ASSERT_TRUE(testsupport::waitUntil([&] { return received.count() == in.size() / 2; }));
        device->close();
        EXPECT_EQ(received.samples(), c.out);
    }
}

// The gain changes while the buffer thread converts and the refill thread
// fills: every sample comes out scaled by one of the gains set, none lost.
TEST(PlutoSDRDevice, GainChangesWhileStreamingScaleWholeSamples)
{
    FakeIio fake;
    const size_t samples = 3 * PlutoSDRDevice::kBufferSamples + 5;
    fake.stream.assign(2 * samples, 160);
    std::unique_ptr<PlutoSDRDevice> device = makeDevice(fake);
    device->setGain(16);
    ReceivedSamples received;
    ASSERT_FALSE(device->open(received.callback));
    for (int i = 0; i < 200 && !fake.streamDelivered(); ++i) {
        device->setGain(i % 2 == 0 ? 32 : 16);
        device->setFrequency(1000000000 + uint64_t(i));
    }
    ASSERT_TRUE(testsupport::waitUntil([&] { return received.count() == samples; }, 60000));
    device->close();
    for (int16_t v : received.samples())
        ASSERT_TRUE(v == 160 || v == 320) << v;
}

TEST(PlutoSDRDevice, LocalContextsAreListedBeforeTheTcpInputAndNetworkOnesAfter)
{
    FakeRtlsdr rtlsdr;
    FakeLime lime;
    FakeIio fake;
    fake.local.push_back({"Local IIO devices", "local:"});
    fake.local.push_back({"a radio that does not open", "usb:9.9.9"});
    fake.failing = "usb:9.9.9";
    DeviceLibraries libraries;
    libraries.rtlsdr = &rtlsdr.library();
    libraries.lime = &lime.library();
    libraries.iio = &fake.library();
    LogCapture log;
    {
        DeviceEnumerator enumerator(libraries);
        EXPECT_TRUE(containsRun(fake.calls(), {"create_scan_context(local,usb, 0)", "scan_context_get_info_list()"}));
        EXPECT_EQ(lastEntries(fake.calls(), 2), (Lines{"context_info_list_free()", "scan_context_destroy()"}));
        for (const FakeIio::Context& c : fake.local)
            EXPECT_TRUE(log.has("plutosdr local context: " + c.description)) << c.description;

        enumerator.addNetworkContext("192.168.2.1");
        enumerator.addNetworkContext("192.168.2.99");   // nobody there
        enumerator.addNetworkContext("");               // not a search of the network
        EXPECT_TRUE(log.has("plutosdr network context: 192.168.2.1"));
        EXPECT_TRUE(log.has("plutosdr network context: 192.168.2.99"));

        const std::vector<InputDevice*>& devices = enumerator.devices();
        ASSERT_EQ(devices.size(), 6u);
        EXPECT_EQ(devices[0]->getTypeName(), "RTLSDRDevice");
        EXPECT_EQ(devices[1]->getTypeName(), "LimeSDRDevice");
        EXPECT_EQ(devices[2]->getTypeName(), "PlutoSDRDevice");
        EXPECT_EQ(devices[2]->getDeviceName(), fake.local[0].description);
        EXPECT_EQ(devices[3]->getDeviceName(), "Local IIO devices");
        EXPECT_EQ(devices[4]->getTypeName(), "TCPInputDevice");
        EXPECT_EQ(devices[5]->getTypeName(), "PlutoSDRDevice");
        EXPECT_EQ(devices[5]->getDeviceName(), fake.network[0].description);
        EXPECT_EQ(devices[5]->getSampleRates(), (std::vector<uint64_t>{5000000, 6000000, 7000000, 8000000, 10000000,
                                                                     12500000, 20000000, 2500000, 2000000, 1000000}));
        EXPECT_TRUE(devices[5]->hasFilterBandwidth());
        EXPECT_EQ(devices[5]->getMinGain(), 1);
        EXPECT_EQ(devices[5]->getMaxGain(), 1024);
        EXPECT_EQ(devices[5]->getMaxFrequency(), 6000000u);
        EXPECT_EQ(fake.contextsAlive(), 3);
    }
    EXPECT_EQ(fake.contextsAlive(), 0) << "each device lets its context go";

    fake.failing = "scan";
    DeviceEnumerator unscanned(libraries);
    EXPECT_EQ(unscanned.devices().size(), 3u) << "no local PlutoSDR";

    DeviceEnumerator withoutLibrary{DeviceLibraries()};
    withoutLibrary.addNetworkContext("192.168.2.1");
    EXPECT_EQ(withoutLibrary.devices().size(), 1u) << "only the TCP input";
}

// The transmitter's signal as the radio's 12-bit samples, through the
// device's conversion into the receiver, comes out as the transmitted TS.
TEST(PlutoSDRDevice, TransmittedSignalDecodesToItsTransportStream)
{
    const std::string tsFile = std::string(TAVIREL_TEST_DATA) + "/dvbs2_qpsk12_normal_pilots.ts";
    const std::vector<uint8_t> sent = testsupport::readFile(tsFile);
    const uint64_t rate = 5000000;   // the rate the device opens with
    const std::vector<uint8_t> bytes = transmitterSamples("s16", rate, tsFile, 16);
    ASSERT_FALSE(bytes.empty());
    FakeIio fake;
    fake.stream.resize(bytes.size() / 2);
    std::memcpy(fake.stream.data(), bytes.data(), bytes.size() & ~size_t(1));
    for (int16_t& v : fake.stream)
        v = int16_t(v / 16);                                     // 12-bit, as the radio gives them
    fake.stream.resize(fake.stream.size() + 2 * 16384, 0);   // silence pushes the last block through
    std::unique_ptr<PlutoSDRDevice> device = makeDevice(fake);
    device->setGain(256);   // back to full scale
    const std::vector<uint8_t> ts = receiveThroughChain(*device, rate, true, [&] { return fake.streamDelivered(); });
    EXPECT_GT(ts.size() / 188, 200u) << "all but the frames before the lock of the 16 sent";
    EXPECT_EQ(testsupport::packetsInOrder(ts, sent), ts.size() / 188);
}
