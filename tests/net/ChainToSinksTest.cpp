// The whole receiver in one process: the test transmitter's samples enter
// the chain's sample callback; the transport stream or the GSE PDUs come out
// of real sockets on 127.0.0.1, the service names and roll-off reach their
// observers.
#include "receiver/ChainOutputs.h"
#include "receiver/ProcessingChain.h"
#include "stream/OutputSinks.h"
#include "tests/net/NetTestClients.h"
#include "tx/BuiltinTsSource.h"
#include "tx/GseBbFramer.h"
#include "tx/SignalGenerator.h"

#include <QCoreApplication>
#include <QObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

using namespace nettest;

namespace {

class RollOffReceiver : public QObject {
    Q_OBJECT
public Q_SLOTS:
    void rolloffChangeNotification(float rollOff) { values.push_back(rollOff); }

public:
    std::vector<float> values;
};

tx::TxSettings channel(std::vector<int> modcods)
{
    tx::TxSettings s;
    s.modcods = std::move(modcods);
    s.pilots = true;
    s.services = {"SINK TEST ONE", "SINK TEST TWO"};
    s.providers = {"TAVIREL LAB"};
    s.symbolRate = 1000000;
    s.sampleRate = 2400000;      // 2.4 samples per symbol
    s.frequencyOffset = 2500.0;
    s.phaseDegrees = 30.0;
    s.noise = true;
    s.esn0Db = 16.0;             // far above the thresholds of QPSK 1/2 and 8PSK 2/3
    s.seed = 7;
    return s;
}

// `frames` PLFRAMEs of the test signal as the device would deliver them.
std::vector<int16_t> transmit(const tx::TxSettings& s, int frames)
{
    EXPECT_EQ(tx::validateSettings(s), "");
    tx::SignalGenerator generator(s);
    std::vector<tx::cf32> samples;
    for (int f = 0; f < frames; ++f)
        generator.nextUnit(samples);
    std::vector<int16_t> iq(2 * samples.size());
    for (size_t k = 0; k < samples.size(); ++k) {
        iq[2 * k] = int16_t(std::lround(std::clamp(samples[k].real() * 8000.0f, -32767.0f, 32767.0f)));
        iq[2 * k + 1] = int16_t(std::lround(std::clamp(samples[k].imag() * 8000.0f, -32767.0f, 32767.0f)));
    }
    return iq;
}

// The transport stream the transmitter's built-in source sends.
std::vector<uint8_t> sentStream(const tx::TxSettings& s, size_t packets)
{
    tx::BuiltinTsParams p;
    p.serviceNames = s.services;
    p.providers = s.providers;
    p.tsRate = tx::usefulTsRate(s);
    p.payloadRate = s.payloadRate;
    tx::BuiltinTsSource source(p);
    std::vector<uint8_t> ts(packets * 188);
    for (size_t k = 0; k < packets; ++k)
        source.nextPacket(ts.data() + 188 * k);
    return ts;
}

// Runs the samples through a chain whose outputs go to `sinks`; returns the log.
struct Received {
    std::vector<std::string> services;
    std::vector<uint8_t> plsCodes;
};
Received receive(OutputSinks& sinks, const tx::TxSettings& s, const std::vector<int16_t>& iq, RollOffReceiver* rollOff)
{
    Received got;
    std::mutex mutex;
    ProcessingChain chain;
    chain.createLdpcWorkers(2);
    chain.firWorker().designMatchedFilter(uint64_t(s.sampleRate), int32_t(s.symbolRate), 64, 0.35f);
    chain.resampleWorker().setTEDGain(6);
    chain.resampleWorker().setTEDDamping(15);
    chain.resampleWorker().setSymbolRate(2.0 * double(s.sampleRate), double(s.symbolRate));
    // The carrier loop as the window starts it once the user enables it.
    chain.demodWorker().setFineCarrierRecoveryGain(128.0f / 256.0f);
    chain.demodWorker().setFineCarrierRecoveryDamping(2.0f / 32.0f);
    chain.demodWorker().setFineCarrierRecoveryEnabled(true);
    attachOutputSinks(chain, sinks);
    chain.setServiceListObserver([&](const std::vector<std::string>& lines, const std::string&) {
        std::lock_guard<std::mutex> lock(mutex);
        got.services = lines;
    });
    chain.setFrameObserver([&](const int8_t*, uint8_t pls) {
        std::lock_guard<std::mutex> lock(mutex);
        got.plsCodes.push_back(pls);
    });
    if (rollOff != nullptr)
        chain.setRollOffObserver(queuedRollOffNotification(rollOff));
    chain.start();
    for (size_t k = 0; k < iq.size(); k += 2)
        chain.sampleCallback()(iq[k], iq[k + 1]);
    for (int k = 0; k < ProcessingChain::kBlockSamples; ++k)   // push the last block through
        chain.sampleCallback()(0, 0);
    EXPECT_TRUE(chain.waitIdle(std::chrono::seconds(120)));
    chain.stop();
    return got;
}

uint16_t pid(const uint8_t* packet)
{
    return uint16_t((packet[1] & 0x1F) << 8 | packet[2]);
}

// After lock every received packet equals the sent one at its place. The
// frames decoded while the receiver was still settling may leave a few
// damaged packets at the start (failed frames are extracted too): at most
// 64 are skipped; the first payload packet after them that was sent fixes
// the alignment, and everything from there on must follow without a gap.
void expectSameStream(const std::vector<uint8_t>& received, const std::vector<uint8_t>& sent, size_t minPackets)
{
    ASSERT_EQ(received.size() % 188, 0u);
    auto matchesFrom = [&](size_t anchor) {
        if (pid(&received[anchor]) < 0x100 || pid(&received[anchor]) > 0x1FF)
            return false;
        const auto found = std::search(sent.begin(), sent.end(), received.begin() + long(anchor),
                                       received.begin() + long(anchor + 188));
        if (found == sent.end() || (found - sent.begin()) % 188 != 0)
            return false;
        const size_t at = size_t(found - sent.begin());
        const size_t length = received.size() - anchor;
        return at + length <= sent.size()
            && std::equal(received.begin() + long(anchor), received.end(), sent.begin() + long(at));
    };
    size_t anchor = 0;
    while (anchor < 64 * 188 && anchor + 188 <= received.size() && !matchesFrom(anchor))
        anchor += 188;
    ASSERT_TRUE(anchor + 188 <= received.size() && matchesFrom(anchor))
        << "no run of packets as sent among " << received.size() / 188;
    EXPECT_GE((received.size() - anchor) / 188, minPackets) << anchor / 188 << " packets skipped";
}

void expectServices(const std::vector<std::string>& services)
{
    ASSERT_EQ(services.size(), 2u);
    EXPECT_NE(services[0].find(" SINK TEST ONE [ TAVIREL LAB ]"), std::string::npos) << services[0];
    EXPECT_NE(services[1].find(" SINK TEST TWO [ TAVIREL LAB ]"), std::string::npos) << services[1];
}

} // namespace

// QPSK 1/2 to a UDP destination: every datagram one 1316-byte block, the
// blocks together the transmitted stream; roll-off reports reach an object
// on this thread; the service names are published.
TEST(ChainToSinks, Qpsk12TransportStreamReachesAUdpSocket)
{
    const tx::TxSettings s = channel({4});
    const std::vector<int16_t> iq = transmit(s, 40);
    UdpReceiver udp;
    OutputSinks sinks;
    RollOffReceiver rollOff;
    testing::internal::CaptureStderr();
    ASSERT_EQ(sinks.applyNetMode(NetworkMode::Udp, "127.0.0.1", udp.port), NetworkMode::Udp);
    const Received got = receive(sinks, s, iq, &rollOff);
    // Loopback loses no datagram: everything taken for the network arrives.
    EXPECT_TRUE(waitUntil([&] { return udp.count() * 1316 == sinks.networkBytes(); }));
    const std::string log = testing::internal::GetCapturedStderr();

    std::vector<uint8_t> stream;
    for (const auto& d : udp.datagrams()) {
        ASSERT_EQ(d.size(), 1316u);
        stream.insert(stream.end(), d.begin(), d.end());
    }
    // Frames of 21.4 packets; acquisition with noise and carrier offset takes
    // up to a dozen frames.
    expectSameStream(stream, sentStream(s, 40 * 22), 25 * 21);
    expectServices(got.services);
    QCoreApplication::processEvents();
    ASSERT_FALSE(rollOff.values.empty());
    for (float r : rollOff.values)
        EXPECT_EQ(r, 0.35f);
}

// 8PSK 2/3 to two TCP clients: both get the whole stream, byte for byte.
TEST(ChainToSinks, Psk8TwoThirdsTransportStreamReachesTwoTcpClients)
{
    const tx::TxSettings s = channel({12});
    const std::vector<int16_t> iq = transmit(s, 50);
    OutputSinks sinks;
    testing::internal::CaptureStderr();
    ASSERT_EQ(sinks.applyNetMode(NetworkMode::TcpServer, "127.0.0.1", 0), NetworkMode::TcpServer);
    TcpClient first(sinks.tcpServerPort(), true), second(sinks.tcpServerPort(), true);
    ASSERT_TRUE(waitUntil([&] { return sinks.tcpClientCount() == 2; }));
    const Received got = receive(sinks, s, iq, nullptr);
    EXPECT_TRUE(waitUntil([&] { return first.size() == sinks.networkBytes() && second.size() == sinks.networkBytes(); }));
    const std::string log = testing::internal::GetCapturedStderr();

    EXPECT_EQ(first.bytes(), second.bytes());
    // 8PSK 2/3 frames carry 43040 data bits: 28.6 packets each.
    expectSameStream(first.bytes(), sentStream(s, 50 * 30), 26 * 28);
    expectServices(got.services);
}

// GSE: every PDU to UDP intact, in order, none missing after the first.
TEST(ChainToSinks, GsePdusReachAUdpSocketIntact)
{
    tx::TxSettings s = channel({4});
    s.gse = true;
    s.gseParams.pduSize = 1200;   // frames of 4000 bytes: PDUs fragmented across frames
    const std::vector<int16_t> iq = transmit(s, 24);
    UdpReceiver udp;
    OutputSinks sinks;
    testing::internal::CaptureStderr();
    ASSERT_EQ(sinks.applyNetMode(NetworkMode::Udp, "127.0.0.1", udp.port), NetworkMode::Udp);
    receive(sinks, s, iq, nullptr);
    EXPECT_TRUE(waitUntil([&] { return udp.count() == sinks.networkBytes() / 1200; }));
    testing::internal::GetCapturedStderr();

    const auto pdus = udp.datagrams();
    ASSERT_GE(pdus.size(), 20u * 3);
    ASSERT_EQ(pdus[0].size(), 1200u);
    uint64_t counter = 0;
    for (int i = 0; i < 8; ++i)
        counter = counter << 8 | pdus[0][size_t(i)];
    for (size_t k = 0; k < pdus.size(); ++k)
        ASSERT_EQ(pdus[k], tx::GseBbFramer::makePdu(counter + k, 1200)) << "PDU " << k;
}

// VCM: QPSK 1/2 and 8PSK 2/3 frames in turn; each is decoded with its own
// code and the transport stream across them comes out whole, into a
// recording of type 0 as well.
TEST(ChainToSinks, VcmFramesAreEachDecodedWithTheirOwnCode)
{
    const tx::TxSettings s = channel({4, 12});
    const std::vector<int16_t> iq = transmit(s, 30);
    QTemporaryDir dir;
    OutputSinks sinks;
    ASSERT_TRUE(sinks.recording().open(dir.filePath("vcm.ts")));
    testing::internal::CaptureStderr();
    const Received got = receive(sinks, s, iq, nullptr);
    const std::string log = testing::internal::GetCapturedStderr();
    sinks.recording().close();

    // The first frames out were received while the loops settled (two to
    // five of these 1 Msym/s frames, by the noise and the timing offset);
    // from the first one that passes its parity checks on, every frame
    // passes them and the codes alternate.
    std::vector<bool> decoded;
    for (size_t at = log.find("BBHEADER"); at != std::string::npos; at = log.find("BBHEADER", at + 1))
        decoded.push_back(log.compare(log.find('|', at), 11, "| LDPC [OK]") == 0);
    ASSERT_EQ(decoded.size(), got.plsCodes.size());
    const size_t first = size_t(std::find(decoded.begin(), decoded.end(), true) - decoded.begin());
    ASSERT_LE(first, 4u) << log.substr(0, 5000);
    ASSERT_GE(got.plsCodes.size() - first, 24u);
    for (size_t k = first; k < got.plsCodes.size(); ++k) {
        EXPECT_TRUE(decoded[k]) << "frame " << k;
        ASSERT_TRUE(got.plsCodes[k] == 0x44 || got.plsCodes[k] == 0x4C) << k;
        if (k > first) {
            EXPECT_NE(got.plsCodes[k], got.plsCodes[k - 1]) << "frame " << k << ": the frames alternate";
        }
    }
    std::ifstream in(dir.filePath("vcm.ts").toStdString(), std::ios::binary);
    const std::vector<uint8_t> recorded(std::istreambuf_iterator<char>(in), {});
    expectSameStream(recorded, sentStream(s, 30 * 26), 22 * 21);
    expectServices(got.services);
}

// Recording types 2 and 1 through the chain: the device's full blocks as
// delivered (a partial block is not written), the demodulator's input blocks.
TEST(ChainToSinks, RecordsSamplesAndSymbols)
{
    QTemporaryDir dir;
    OutputSinks sinks;
    testing::internal::CaptureStderr();
    {
        ProcessingChain chain;   // not started: the sample blocks are written on this thread
        attachOutputSinks(chain, sinks);
        sinks.recording().setType(RecordType::Samples);
        ASSERT_TRUE(sinks.recording().open(dir.filePath("samples.iq")));
        std::vector<int16_t> fed;
        for (int k = 0; k < 2 * ProcessingChain::kBlockSamples + 100; ++k) {
            const int16_t i = int16_t(k * 7), q = int16_t(-k * 3);
            chain.sampleCallback()(i, q);
            fed.push_back(i);
            fed.push_back(q);
        }
        sinks.recording().close();
        std::ifstream in(dir.filePath("samples.iq").toStdString(), std::ios::binary);
        const std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
        ASSERT_EQ(bytes.size(), 2u * ProcessingChain::kRawBlockBytes);
        EXPECT_EQ(std::memcmp(bytes.data(), fed.data(), bytes.size()), 0);   // int16 little-endian, I first
    }
    {
        const tx::TxSettings s = channel({4});
        const std::vector<int16_t> iq = transmit(s, 2);
        sinks.recording().setType(RecordType::Symbols);
        ASSERT_TRUE(sinks.recording().open(dir.filePath("symbols.iq")));
        receive(sinks, s, iq, nullptr);
        sinks.recording().close();
        // 2.4 samples a symbol: the full blocks' samples come out as 1/2.4
        // as many symbols, 4 bytes each.
        const size_t blocks = (iq.size() / 2 + ProcessingChain::kBlockSamples) / ProcessingChain::kBlockSamples;
        const double symbols = double(sinks.recording().bytesWritten()) / 4.0;
        const double expected = double(blocks * ProcessingChain::kBlockSamples) / 2.4;
        EXPECT_EQ(sinks.recording().bytesWritten() % 4, 0u);
        EXPECT_NEAR(symbols, expected, 0.01 * expected);
    }
    testing::internal::GetCapturedStderr();
}

#include "ChainToSinksTest.moc"
