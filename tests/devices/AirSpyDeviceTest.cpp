// The Airspy device against a stand-in for libairspy.
#include "devices/DeviceEnumerator.h"
#include "devices/airspy/AirSpyDevice.h"
#include "tests/TestSupport.h"
#include "tests/devices/FakeAirspy.h"
#include "tests/devices/FakeHackrf.h"
#include "tests/devices/FakeRtlsdr.h"
#include "tests/devices/LogCapture.h"
#include "tests/devices/RadioChain.h"
#include "tests/devices/ReceivedSamples.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Calls = std::vector<std::string>;
using Rates = std::vector<uint64_t>;

constexpr uint64_t kSerial = 0x26A464DC2B4D5B13ull;

Calls lastCalls(const FakeAirspy& fake, size_t n)
{
    const Calls all = fake.calls();
    return Calls(all.end() - long(std::min(n, all.size())), all.end());
}

} // namespace

TEST(AirSpyDevice, OpenReadsTheRadiosRatesStartsAtItsFirstAndSettersFollowWhileOpen)
{
    FakeAirspy fake;
    fake.stream.assign(1 << 20, 7);   // streams while the setters run
    fake.transferSamples = 4096;
    ReceivedSamples received;   // outlives the device
    AirSpyDevice device(fake.library(), kSerial);
    device.setDeviceName("airspy");
    EXPECT_EQ(device.getSampleRates(), (Rates{2500000, 10000000})) << "before the first open";
    device.setFrequency(1210000000);
    device.setGain(9);
    device.setFilterBandwidth(3000000);
    device.setSampleRateIndex(1);
    EXPECT_TRUE(fake.calls().empty()) << "closed: setters only store";
    EXPECT_EQ(device.getSampleRate(), 10000000u);

    LogCapture log;
    ASSERT_FALSE(device.open(received.callback));
    EXPECT_TRUE(fake.streaming());
    EXPECT_EQ(fake.calls(), (Calls{"open_sn(" + std::to_string(kSerial) + ")", "get_samplerates(0)",
                                   "get_samplerates(2)", "set_samplerate(10000000)", "set_sample_type(2)",
                                   "set_lna_agc(1)", "set_mixer_agc(1)", "set_packing(0)", "start_rx()"}))
        << "neither frequency nor gain until their next setter";
    EXPECT_TRUE(log.has("num samplerates: 2"));
    EXPECT_EQ(device.getSampleRates(), (Rates{10000000, 2500000})) << "the radio's own list";
    EXPECT_EQ(device.getSampleRate(), 10000000u) << "always the radio's first rate";

    device.setFrequency(1300000000);
    device.setGain(0x10F);   // the library takes the low 8 bits
    device.setSampleRateIndex(1);
    device.setFilterBandwidth(5000000);   // no filter: stored only
    device.setSampleRateIndex(2);         // past the list: nothing
    EXPECT_EQ(lastCalls(fake, 3), (Calls{"set_freq(1300000000)", "set_vga_gain(15)", "set_samplerate(2500000)"}));
    EXPECT_EQ(device.getSampleRate(), 2500000u);
    EXPECT_EQ(device.getFilterBandwidth(), 5000000u);

    device.close();
    EXPECT_EQ(lastCalls(fake, 2), (Calls{"stop_rx()", "close()"}));
    EXPECT_FALSE(fake.streaming()) << "the library streams no more";
    const size_t closed = fake.calls().size();
    device.close();
    device.setGain(3);
    device.setFrequency(100000000);
    device.setSampleRateIndex(0);
    EXPECT_EQ(fake.calls().size(), closed) << "closed: nothing reaches the library";
    EXPECT_EQ(device.getGain(), 3);
    EXPECT_EQ(device.getSampleRate(), 10000000u) << "the radio's list is kept";
}

TEST(AirSpyDevice, RateListsBeyondEightOrMissingAreHandled)
{
    {
        SCOPED_TRACE("more than eight rates: the first eight");
        FakeAirspy fake;
        fake.sampleRates = {10000000, 9000000, 8000000, 7000000, 6000000, 5000000, 4000000, 3000000, 2500000, 2000000};
        ReceivedSamples received;   // outlives the device
        AirSpyDevice device(fake.library(), kSerial);
        LogCapture log;
        ASSERT_FALSE(device.open(received.callback));
        EXPECT_TRUE(log.has("num samplerates: 10"));
        EXPECT_EQ(fake.calls().at(2), "get_samplerates(8)");
        EXPECT_EQ(device.getSampleRates(), Rates(fake.sampleRates.begin(), fake.sampleRates.begin() + 8));
    }
    {
        SCOPED_TRACE("the list cannot be read: the one it had");
        FakeAirspy fake;
        fake.failing = "get_samplerates";
        ReceivedSamples received;   // outlives the device
        AirSpyDevice device(fake.library(), kSerial);
        ASSERT_FALSE(device.open(received.callback));
        EXPECT_EQ(device.getSampleRates(), (Rates{2500000, 10000000}));
        EXPECT_EQ(fake.calls().at(2), "set_samplerate(2500000)");
    }
    {
        SCOPED_TRACE("an empty list: the one it had");
        FakeAirspy fake;
        fake.sampleRates.clear();
        ReceivedSamples received;   // outlives the device
        AirSpyDevice device(fake.library(), kSerial);
        ASSERT_FALSE(device.open(received.callback));
        EXPECT_EQ(device.getSampleRates(), (Rates{2500000, 10000000}));
        EXPECT_EQ(fake.calls().at(2), "set_samplerate(2500000)") << "no second read of an empty list";
    }
}

TEST(AirSpyDevice, AFailedOpenLeavesNothingClaimedOrRunning)
{
    {
        SCOPED_TRACE("airspy_open_sn: no message");
        FakeAirspy fake;
        fake.failing = "open_sn";
        ReceivedSamples received;   // outlives the device
        AirSpyDevice device(fake.library(), kSerial);
        device.setDeviceName("airspy");
        LogCapture log;
        EXPECT_TRUE(device.open(received.callback));
        EXPECT_TRUE(log.lines().empty());
        device.setFrequency(100000000);
        device.close();
        EXPECT_EQ(fake.calls().size(), 1u) << "no handle: no calls";
        EXPECT_FALSE(fake.streaming());
    }
    {
        SCOPED_TRACE("airspy_start_rx");
        FakeAirspy fake;
        fake.failing = "start_rx";
        ReceivedSamples received;   // outlives the device
        AirSpyDevice device(fake.library(), kSerial);
        device.setDeviceName("libairspy | v1 | SERIAL: 1");
        LogCapture log;
        EXPECT_TRUE(device.open(received.callback));
        EXPECT_TRUE(log.has("airspy_start_rx failed for \"libairspy | v1 | SERIAL: 1\""));
        EXPECT_EQ(lastCalls(fake, 2), (Calls{"start_rx()", "close()"})) << "the radio is released again";
        EXPECT_FALSE(fake.streaming());
        const size_t failed = fake.calls().size();
        device.setGain(10);
        device.close();
        EXPECT_EQ(fake.calls().size(), failed) << "reported as not open: no calls";

        fake.failing.clear();
        EXPECT_FALSE(device.open(received.callback)) << "and it can be opened again";
        EXPECT_TRUE(fake.streaming());
    }
}

TEST(AirSpyDevice, TwelveBitSamplesAreScaledToSixteenBitsOneByOneOrInRuns)
{
    FakeAirspy fake;
    // Full 12-bit scale, small values, and words past 12 bits that are limited.
    fake.stream = {2047, -2048, 0, 1, -1, 100, 2048, -2049};
    fake.transferSamples = 3;
    {
        ReceivedSamples received;   // outlives the device
        AirSpyDevice device(fake.library(), kSerial);
        ASSERT_FALSE(device.open(received.callback));
        ASSERT_TRUE(testsupport::waitUntil([&] { return fake.streamDelivered(); }));
        EXPECT_EQ(received.samples(), (std::vector<int16_t>{32752, -32768, 0, 16, -16, 1600, 32767, -32768}));
    }   // destruction closes
    EXPECT_EQ(lastCalls(fake, 2), (Calls{"stop_rx()", "close()"}));
    EXPECT_FALSE(fake.streaming());

    ReceivedSamples received;   // outlives the device
    AirSpyDevice device(fake.library(), kSerial);
    device.setBlockCallback(&received.runCallback);
    ASSERT_FALSE(device.open(received.callback));
    ASSERT_TRUE(testsupport::waitUntil([&] { return fake.streamDelivered(); }));
    device.close();
    EXPECT_EQ(received.blockRuns(),
              (std::vector<std::vector<int16_t>>{{32752, -32768, 0, 16, -16, 1600}, {32767, -32768}}))
        << "one run per transfer";
    EXPECT_EQ(received.count(), 0u);
}

TEST(AirSpyDevice, ListedAfterTheOtherRadiosByVersionAndSerial)
{
    FakeHackrf hackrf;
    FakeRtlsdr rtlsdr;
    FakeAirspy airspy;
    airspy.radios = {{kSerial, "AirSpy NOS v1.0.0-rc10-6-g4008185 2020-05-08"}, {42, "", false}};
    DeviceLibraries libraries;
    libraries.hackrf = &hackrf.library();
    libraries.rtlsdr = &rtlsdr.library();
    libraries.airspy = &airspy.library();
    LogCapture log;
    DeviceEnumerator enumerator(libraries);
    const std::vector<InputDevice*>& devices = enumerator.devices();
    ASSERT_EQ(devices.size(), 5u);
    EXPECT_EQ(devices[0]->getTypeName(), "HackRFDevice");
    EXPECT_EQ(devices[1]->getTypeName(), "RTLSDRDevice");
    EXPECT_EQ(devices[2]->getTypeName(), "AirSpyDevice");
    EXPECT_EQ(devices[2]->getDeviceName(),
              "libairspy | AirSpy NOS v1.0.0-rc10-6-g4008185 2020-05-08 | SERIAL: 2784461366403881747");
    EXPECT_EQ(devices[3]->getDeviceName(), "libairspy | (null) | SERIAL: 42") << "one that cannot be opened";
    EXPECT_EQ(devices[4]->getTypeName(), "TCPInputDevice");
    const Calls expected{"list_devices(8)",   "open_sn(" + std::to_string(kSerial) + ")", "version_string_read(192)",
                         "close()",           "open_sn(42)"};
    EXPECT_EQ(airspy.calls(), expected) << "each radio closed again after its version was read";
    const std::vector<std::string> lines = log.lines();
    const std::vector<std::string> expectedLines{"libairspy version: 1.0.11", "libairspy num_devices: 2",
                                                 "airspy_open_sn returned -5"};
    EXPECT_EQ(lines, expectedLines);

    EXPECT_EQ(devices[2]->getSampleRates(), (Rates{2500000, 10000000}));
    EXPECT_EQ(devices[2]->getMinGain(), 0);
    EXPECT_EQ(devices[2]->getMaxGain(), 15);
    EXPECT_EQ(devices[2]->getMinFrequency(), 24000u);
    EXPECT_EQ(devices[2]->getMaxFrequency(), 1750000u);
    EXPECT_FALSE(devices[2]->hasFilterBandwidth());
}

// The transmitter's signal as the radio's 12-bit words, through the device's
// conversion into the receiver, comes out as the transmitted TS.
TEST(AirSpyDevice, TransmittedSignalDecodesToItsTransportStream)
{
    const std::string tsFile = std::string(TAVIREL_TEST_DATA) + "/dvbs2_qpsk12_normal_pilots.ts";
    const std::vector<uint8_t> sent = testsupport::readFile(tsFile);
    const uint64_t rate = 2500000;
    const std::vector<uint8_t> bytes = transmitterSamples("s16", rate, tsFile, 32);
    ASSERT_FALSE(bytes.empty());
    // 16-bit little-endian words to the radio's 12 bits.
    std::vector<int16_t> words(bytes.size() / 2);
    for (size_t k = 0; k < words.size(); ++k)
        words[k] = int16_t(int16_t(uint16_t(bytes[2 * k] | bytes[2 * k + 1] << 8)) >> 4);
    for (const bool inRuns : {false, true}) {
        SCOPED_TRACE(inRuns ? "in runs" : "sample by sample");
        FakeAirspy fake;
        fake.sampleRates = {uint32_t(rate), 10000000};
        fake.stream = words;
        fake.stream.resize(words.size() + 2 * 16384, 0);   // silence pushes the last block through
        AirSpyDevice device(fake.library(), kSerial);
        const std::vector<uint8_t> ts =
            receiveThroughChain(device, rate, inRuns, [&] { return fake.streamDelivered(); });
        EXPECT_EQ(device.getSampleRate(), rate);
        EXPECT_GT(ts.size() / 188, 450u) << "all but the frames before the lock of the 580 sent";
        EXPECT_EQ(testsupport::packetsInOrder(ts, sent), ts.size() / 188);
    }
}
