// The HackRF device against a stand-in for libhackrf.
#include "devices/DeviceEnumerator.h"
#include "devices/hackrf/HackRFDevice.h"
#include "tests/TestSupport.h"
#include "tests/devices/FakeHackrf.h"
#include "tests/devices/FakeRtlsdr.h"
#include "tests/devices/LogCapture.h"
#include "tests/devices/RadioChain.h"
#include "tests/devices/ReceivedSamples.h"

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;

Calls lastCalls(const FakeHackrf& fake, size_t n)
{
    const Calls all = fake.calls();
    return Calls(all.end() - long(std::min(n, all.size())), all.end());
}

} // namespace

TEST(HackRFDevice, OpenAppliesTheStoredSettingsAndSettersFollowWhileOpen)
{
    FakeHackrf fake;
    fake.boards.push_back({0x604B, "0000000000000000457863c82b4d2e4f"});
    fake.stream.assign(1 << 20, 0x11);   // streams while the setters run
    fake.transferBytes = 16384;
    ReceivedSamples received;   // outlives the device
    HackRFDevice device(fake.library(), fake.deviceList(), 1);
    device.setDeviceName("hackrf");
    device.setFrequency(1210000000);
    device.setGain(20);
    device.setFilterBandwidth(5000000);
    device.setSampleRateIndex(2);
    EXPECT_TRUE(fake.calls().empty()) << "closed: setters only store";
    EXPECT_EQ(device.getSampleRate(), 16000000u);

    ASSERT_FALSE(device.open(received.callback));
    EXPECT_TRUE(fake.streaming());
    EXPECT_EQ(fake.calls(), (Calls{"device_list_open(1)", "set_sample_rate(16000000)",
                                   "set_baseband_filter_bandwidth(5000000)", "set_lna_gain(40)", "set_vga_gain(20)",
                                   "start_rx()"}))
        << "the stored rate, and no frequency until the next setFrequency";
    EXPECT_EQ(device.getSampleRate(), 16000000u);

    device.setFrequency(1300000000);
    device.setGain(31);
    device.setFilterBandwidth(2500000);
    device.setSampleRateIndex(4);
    EXPECT_EQ(lastCalls(fake, 4), (Calls{"set_freq(1300000000)", "set_vga_gain(31)",
                                         "set_baseband_filter_bandwidth(2500000)", "set_sample_rate(4000000)"}));
    EXPECT_EQ(device.getFrequency(), 1300000000u);
    EXPECT_EQ(device.getFilterBandwidth(), 2500000u);

    device.close();
    EXPECT_EQ(lastCalls(fake, 2), (Calls{"stop_rx()", "close()"}));
    EXPECT_FALSE(fake.streaming()) << "the library streams no more";
    const size_t closed = fake.calls().size();
    device.close();
    device.setGain(7);
    device.setFrequency(100000000);
    EXPECT_EQ(fake.calls().size(), closed) << "closed: nothing reaches the library";
    EXPECT_EQ(device.getGain(), 7);

    // Opened again, it takes up the values stored meanwhile.
    ASSERT_FALSE(device.open(received.callback));
    EXPECT_EQ(lastCalls(fake, 6), (Calls{"device_list_open(1)", "set_sample_rate(4000000)",
                                         "set_baseband_filter_bandwidth(2500000)", "set_lna_gain(40)",
                                         "set_vga_gain(7)", "start_rx()"}));
}

TEST(HackRFDevice, WithoutAStoredRateItStartsAtTheFirstListed)
{
    FakeHackrf fake;
    ReceivedSamples received;   // outlives the device
    HackRFDevice device(fake.library(), fake.deviceList(), 0);
    EXPECT_EQ(device.getSampleRate(), 0u);
    ASSERT_FALSE(device.open(received.callback));
    EXPECT_EQ(fake.calls().at(1), "set_sample_rate(8000000)");
    EXPECT_EQ(device.getSampleRate(), 8000000u);
}

TEST(HackRFDevice, AFailedOpenLogsTheCallAndLeavesNothingClaimedOrRunning)
{
    {
        SCOPED_TRACE("device_list_open");
        FakeHackrf fake;
        fake.failing = "device_list_open";
        ReceivedSamples received;   // outlives the device
        HackRFDevice device(fake.library(), fake.deviceList(), 0);
        device.setDeviceName("libhackrf | DEVTYPE: 6089, SERIAL: 42");
        LogCapture log;
        EXPECT_TRUE(device.open(received.callback));
        EXPECT_TRUE(log.has("hackrf_device_list_open failed for \"libhackrf | DEVTYPE: 6089, SERIAL: 42\""));
        device.setFrequency(100000000);
        device.close();
        EXPECT_EQ(fake.calls(), (Calls{"device_list_open(0)"})) << "no handle: no calls";
        EXPECT_FALSE(fake.streaming());
    }
    {
        SCOPED_TRACE("start_rx");
        FakeHackrf fake;
        fake.failing = "start_rx";
        ReceivedSamples received;   // outlives the device
        HackRFDevice device(fake.library(), fake.deviceList(), 0);
        device.setDeviceName("hackrf");
        LogCapture log;
        EXPECT_TRUE(device.open(received.callback));
        EXPECT_TRUE(log.has("hackrf_start_rx failed for \"hackrf\""));
        EXPECT_EQ(lastCalls(fake, 2), (Calls{"start_rx()", "close()"})) << "the device is released again";
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

TEST(HackRFDevice, SignedBytesOfTheValidPartOfEachTransferBecomeSixteenBitSamples)
{
    FakeHackrf fake;
    fake.stream = {0x80, 0x7F, 0x00, 0x01, 0xFF, 0x81};
    fake.transferBytes = 4;
    fake.transferSpare = 6;   // bytes past the valid length are not samples
    {
        ReceivedSamples received;   // outlives the device
        HackRFDevice device(fake.library(), fake.deviceList(), 0);
        ASSERT_FALSE(device.open(received.callback));
        ASSERT_TRUE(testsupport::waitUntil([&] { return fake.streamDelivered(); }));
        EXPECT_EQ(received.samples(), (std::vector<int16_t>{-32768, 32512, 0, 256, -256, -32512}));
    }   // destruction closes
    EXPECT_EQ(lastCalls(fake, 2), (Calls{"stop_rx()", "close()"}));
    EXPECT_FALSE(fake.streaming());
}

TEST(HackRFDevice, RunsGoToTheBlockCallbackOnePerTransfer)
{
    FakeHackrf fake;
    fake.stream = {0x80, 0x7F, 0x00, 0x01, 0xFF, 0x81};
    fake.transferBytes = 4;
    ReceivedSamples received;   // outlives the device
    HackRFDevice device(fake.library(), fake.deviceList(), 0);
    device.setBlockCallback(&received.runCallback);
    ASSERT_FALSE(device.open(received.callback));
    ASSERT_TRUE(testsupport::waitUntil([&] { return fake.streamDelivered(); }));
    device.close();
    EXPECT_EQ(received.blockRuns(), (std::vector<std::vector<int16_t>>{{-32768, 32512, 0, 256}, {-256, -32512}}));
    EXPECT_EQ(received.count(), 0u);
}

TEST(HackRFDevice, ListedFirstByBoardAndSerialAndTheLibraryReleasedAfterItsDevices)
{
    FakeHackrf hackrf;
    hackrf.boards = {{0x6089, "0000000000000000a06063c8234e925f"}, {0x604B, "", false}};
    FakeRtlsdr rtlsdr;
    DeviceLibraries libraries;
    libraries.hackrf = &hackrf.library();
    libraries.rtlsdr = &rtlsdr.library();
    ReceivedSamples received;   // outlives the devices
    {
        DeviceEnumerator enumerator(libraries);
        const std::vector<InputDevice*>& devices = enumerator.devices();
        ASSERT_EQ(devices.size(), 4u);
        EXPECT_EQ(devices[0]->getTypeName(), "HackRFDevice");
        EXPECT_EQ(devices[0]->getDeviceName(), "libhackrf | DEVTYPE: 6089, SERIAL: 0000000000000000a06063c8234e925f");
        EXPECT_EQ(devices[1]->getDeviceName(), "libhackrf | DEVTYPE: 604B, SERIAL: (null)");
        EXPECT_EQ(devices[2]->getTypeName(), "RTLSDRDevice");
        EXPECT_EQ(devices[3]->getTypeName(), "TCPInputDevice");
        EXPECT_EQ(devices[0]->getSampleRates(), (std::vector<uint64_t>{8000000, 20000000, 16000000, 8000000, 4000000}));
        EXPECT_EQ(devices[0]->getMaxGain(), 63);
        EXPECT_EQ(devices[0]->getMaxFrequency(), 2150000u);
        EXPECT_TRUE(devices[0]->hasFilterBandwidth());
        EXPECT_EQ(hackrf.calls(), (Calls{"init()", "device_list()"})) << "the list stays for the devices";

        // Each device opens its own entry of the kept list.
        ASSERT_FALSE(devices[1]->open(received.callback));
        EXPECT_EQ(hackrf.calls().at(2), "device_list_open(1)");
    }
    // The open device is closed before the list goes and the library ends.
    EXPECT_EQ(lastCalls(hackrf, 4), (Calls{"stop_rx()", "close()", "device_list_free()", "exit()"}));
    EXPECT_FALSE(hackrf.streaming());
}

TEST(HackRFDevice, NoneListedWhenTheLibraryCannotStartOrListItsDevices)
{
    {
        FakeHackrf fake;
        fake.failing = "init";
        DeviceLibraries libraries;
        libraries.hackrf = &fake.library();
        {
            DeviceEnumerator enumerator(libraries);
            ASSERT_EQ(enumerator.devices().size(), 1u);
        }
        EXPECT_EQ(fake.calls(), (Calls{"init()"})) << "nothing to list, free or shut down";
    }
    {
        FakeHackrf fake;
        fake.listUnavailable = true;
        DeviceLibraries libraries;
        libraries.hackrf = &fake.library();
        {
            DeviceEnumerator enumerator(libraries);
            ASSERT_EQ(enumerator.devices().size(), 1u);
            EXPECT_EQ(enumerator.devices()[0]->getTypeName(), "TCPInputDevice");
        }
        EXPECT_EQ(fake.calls(), (Calls{"init()", "device_list()", "exit()"})) << "no list to free";
    }
}

// The transmitter's signal as the radio's signed bytes, through the device's
// conversion into the receiver, comes out as the transmitted TS.
TEST(HackRFDevice, TransmittedSignalDecodesToItsTransportStream)
{
    const std::string tsFile = std::string(TAVIREL_TEST_DATA) + "/dvbs2_qpsk12_normal_pilots.ts";
    const std::vector<uint8_t> sent = testsupport::readFile(tsFile);
    const uint64_t rate = 4000000;
    const std::vector<uint8_t> signal = transmitterSamples("s8", rate, tsFile, 32);
    ASSERT_FALSE(signal.empty());
    for (const bool inRuns : {false, true}) {
        SCOPED_TRACE(inRuns ? "in runs" : "sample by sample");
        FakeHackrf fake;
        fake.stream = signal;
        fake.stream.resize(signal.size() + 2 * 16384, 0x00);   // silence pushes the last block through
        HackRFDevice device(fake.library(), fake.deviceList(), 0);
        device.setSampleRateIndex(4);
        ASSERT_EQ(device.getSampleRate(), rate);
        const std::vector<uint8_t> ts =
            receiveThroughChain(device, rate, inRuns, [&] { return fake.streamDelivered(); });
        EXPECT_GT(ts.size() / 188, 450u) << "all but the frames before the lock of the 580 sent";
        EXPECT_EQ(testsupport::packetsInOrder(ts, sent), ts.size() / 188);
    }
}
