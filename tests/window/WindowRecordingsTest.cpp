// The independent transmitter's recordings through the whole window, fed
// over TCP as a person would feed them: each decodes packet for packet to
// the stream it carries, with its service named on the waterfall.
#include "tests/window/WindowFixture.h"

#include "tests/LoopbackServer.h"
#include "tests/TestSupport.h"
#include "ui/WaterfallDisplay.h"

namespace {

using testsupport::readFile;

struct Recording {
    const char* name;
    IqFormat format;
    double sampleRateMHz;
    Standard standard;
    int codeRateIndex;       // DVB-S: the code-rate box's entry (1/2 … 7/8)
    size_t minimumPackets;   // as the headless receiver's test asks
    const char* service;
};

void PrintTo(const Recording& r, std::ostream* os)
{
    *os << r.name;
}

class WindowRecording : public WindowTest, public testing::WithParamInterface<Recording> {};

} // namespace

TEST_P(WindowRecording, DecodesToTheTransportStreamItCarries)
{
    const Recording& rec = GetParam();
    const std::string data = std::string(TAVIREL_TEST_DATA) + "/" + rec.name;
    std::vector<uint8_t> samples = readFile(data + ".iq");
    ASSERT_FALSE(samples.empty());
    // Silence after the signal pushes its last frames through the chain.
    samples.resize(samples.size() + 16 * 16384, 0);

    WindowOptions options;
    options.releaseNotes = false;
    options.symbolRate = 1000000;
    options.standard = rec.standard;
    open(kQuietConfig, options);
    if (rec.standard == Standard::DvbS)
        ui().box_depuncture->setCurrentIndex(rec.codeRateIndex);
    ASSERT_TRUE(window->startRecording(RecordType::TransportStream, path("window.ts")));

    testsupport::SendOnceServer server(samples);
    TcpInputSettings input;
    input.port = server.port;
    input.bandwidthMHz = rec.sampleRateMHz;
    input.format = rec.format;
    window->connectTcp(input);
    ASSERT_NE(window->currentDevice(), nullptr);
    ASSERT_TRUE(pumpUntil([&] { return window->currentDevice() == nullptr; }, 240000)) << "the server hung up";
    ASSERT_TRUE(pumpUntil([&] { return !window->sinks().recording().isOpen(); }, 60000));

    std::vector<uint8_t> ts = readFile(path("window.ts").toStdString());
    ASSERT_EQ(ts.size() % 188, 0u);
    testsupport::dropLeadingErrorPackets(ts);
    testsupport::dropTrailingErrorPackets(ts);
    EXPECT_GE(ts.size() / 188, rec.minimumPackets);
    EXPECT_EQ(testsupport::packetsInOrder(ts, readFile(data + ".ts")), ts.size() / 188);

    auto* waterfall = window->findChild<WaterfallDisplay*>("widget_waterfall");
    ASSERT_NE(waterfall, nullptr);
    EXPECT_TRUE(waterfall->overlayText().contains(rec.service)) << waterfall->overlayText().toStdString();
}

// The noisy recording untuned, as a person first meets it: the receiver
// finds its carrier 2 kHz off on the headers.
INSTANTIATE_TEST_SUITE_P(
    Fixtures, WindowRecording,
    testing::Values(
        Recording{"dvbs2_qpsk12_normal_pilots", IqFormat::S8, 2.0, Standard::DvbS2, 0, 350, "DVBS2 QPSK12 NORMAL PILOTS"},
        Recording{"dvbs2_8psk23_normal_pilots", IqFormat::S16, 2.4, Standard::DvbS2, 0, 600, "DVBS2 8PSK23 NORMAL PILOTS"},
        Recording{"dvbs2_qpsk34_short_nopilots", IqFormat::S16, 2.5, Standard::DvbS2, 0, 250,
                  "DVBS2 QPSK34 SHORT NOPILOTS"},
        Recording{"dvbs2_qpsk12_normal_pilots_noisy", IqFormat::S16, 2.0, Standard::DvbS2, 0, 399,
                  "DVBS2 QPSK12 NORMAL PILOTS NOISY"},
        Recording{"dvbs_qpsk12", IqFormat::S16, 2.0, Standard::DvbS, 0, 200, "DVBS QPSK12"},
        Recording{"dvbs_qpsk78", IqFormat::S8, 2.0, Standard::DvbS, 4, 350, "DVBS QPSK78"}),
    [](const testing::TestParamInfo<Recording>& info) { return std::string(info.param.name); });
