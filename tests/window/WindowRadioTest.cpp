// A radio in the window: listed before the TCP input, opened from the device
// list with the window's settings, and its samples decoded to the TS.
#include "tests/window/WindowFixture.h"

#include "devices/DeviceLibraries.h"
#include "tests/TestSupport.h"
#include "tests/devices/FakeRtlsdr.h"
#include "tests/devices/RadioChain.h"

#include <algorithm>

namespace {

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

    // While the samples flow the labels read the transmitted MODCOD.
    bool modcodShown = false;
    ASSERT_TRUE(pumpUntil(
        [&] {
            modcodShown = modcodShown || ui().lbl_modcode->text() == "Modcode: QPSK 1/2";
            return fake.streamDelivered();
        },
        120000));
    ASSERT_TRUE(chain().waitIdle(std::chrono::seconds(60)));
    EXPECT_TRUE(modcodShown);

    ui().btn_dcon->setChecked(false);
    EXPECT_EQ(window->currentDevice(), nullptr);
    EXPECT_EQ(fake.calls().back(), "close()");
    EXPECT_FALSE(fake.reading()) << "the reading thread has ended";
    EXPECT_TRUE(ui().box_devlist->isEnabled());

    const std::vector<uint8_t> ts = testsupport::readFile(path("radio.ts").toStdString());
    EXPECT_GT(ts.size() / 188, 450u);
    EXPECT_EQ(testsupport::packetsInOrder(ts, testsupport::readFile(tsFile)), ts.size() / 188);
}
