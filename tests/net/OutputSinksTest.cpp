// The network and file sinks driven directly: mode switching and its errors,
// UDP datagrams, TCP clients (also one that stops reading), the recording.
#include "stream/OutputSinks.h"
#include "tests/net/NetTestClients.h"
#include "tests/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <numeric>
#include <random>

using namespace nettest;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

// The warning boxes, as "title|text".
struct Reported {
    std::vector<std::string> boxes;
    OutputSinks::ErrorReport hook()
    {
        return [this](const QString& title, const QString& text) {
            boxes.push_back((title + "|" + text).toStdString());
        };
    }
};

// Block k: 1316 bytes starting with k as a 32-bit number, then a pattern
// that depends on k.
std::vector<uint8_t> block(uint32_t k, size_t size = 1316)
{
    std::vector<uint8_t> b(size);
    for (size_t i = 0; i < size; ++i)
        b[i] = uint8_t(k * 31 + i);
    for (int i = 0; i < 4; ++i)
        b[size_t(i)] = uint8_t(k >> (8 * i));
    return b;
}

std::vector<uint8_t> readFile(const QString& path)
{
    return testsupport::readFile(path.toStdString());
}

// The concatenation of blocks first … first + count − 1.
std::vector<uint8_t> blocks(uint32_t first, uint32_t count)
{
    std::vector<uint8_t> all;
    for (uint32_t k = first; k < first + count; ++k) {
        const std::vector<uint8_t> b = block(k);
        all.insert(all.end(), b.begin(), b.end());
    }
    return all;
}

} // namespace

TEST(OutputSinks, BadSettingsAreReportedAndSwitchTheOutputOff)
{
    OutputSinks sinks;
    Reported reported;
    sinks.setErrorReport(reported.hook());
    // Something already listens on this port.
    const int busy = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    ASSERT_EQ(bind(busy, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    listen(busy, 1);
    socklen_t len = sizeof a;
    getsockname(busy, reinterpret_cast<sockaddr*>(&a), &len);
    const int busyPort = ntohs(a.sin_port);

    CaptureStderr();
    EXPECT_EQ(sinks.applyNetMode(NetworkMode::Udp, "192.168.1.256", 8888), NetworkMode::Off);
    EXPECT_EQ(sinks.applyNetMode(NetworkMode::TcpServer, "localhost", 8888), NetworkMode::Off);
    EXPECT_EQ(sinks.applyNetMode(NetworkMode::TcpServer, "127.0.0.1", busyPort), NetworkMode::Off);
    // Not an address of this machine (TEST-NET-1).
    EXPECT_EQ(sinks.applyNetMode(NetworkMode::TcpServer, "192.0.2.1", 8888), NetworkMode::Off);
    // A link-local IPv6 address needs an interface: the UDP socket cannot connect.
    EXPECT_EQ(sinks.applyNetMode(NetworkMode::Udp, "fe80::1", 8888), NetworkMode::Off);
    // Ports the sockets cannot have.
    EXPECT_EQ(sinks.applyNetMode(NetworkMode::Udp, "127.0.0.1", 70000), NetworkMode::Off);
    EXPECT_EQ(sinks.applyNetMode(NetworkMode::TcpServer, "::1", -1), NetworkMode::Off);
    // Off needs no address.
    EXPECT_EQ(sinks.applyNetMode(NetworkMode::Off, "garbage", 0), NetworkMode::Off);
    const std::string log = GetCapturedStderr();
    ::close(busy);

    const std::vector<std::string> expected = {
        "Network Settings|'192.168.1.256' is not a valid IP address!",
        "Network Settings|'localhost' is not a valid IP address!",
        "Network Settings|TCP Listening Socket couldn't be created. addr: 127.0.0.1, port: " + std::to_string(busyPort),
        "Network Settings|TCP Listening Socket couldn't be created. addr: 192.0.2.1, port: 8888",
        "Network Settings|UDP Socket couldn't be created. addr: fe80::1, port: 8888",
        "Network Settings|UDP Socket couldn't be created. addr: 127.0.0.1, port: 70000",
        "Network Settings|TCP Listening Socket couldn't be created. addr: ::1, port: -1",
    };
    EXPECT_EQ(reported.boxes, expected);
    EXPECT_EQ(log, "Net Mode changed to 1\nNet Mode changed to 0\n"
                   "Net Mode changed to 2\nNet Mode changed to 0\n"
                   "Net Mode changed to 2\nNet Mode changed to 0\n"
                   "Net Mode changed to 2\nNet Mode changed to 0\n"
                   "Net Mode changed to 1\nNet Mode changed to 0\n"
                   "Net Mode changed to 1\nNet Mode changed to 0\n"
                   "Net Mode changed to 2\nNet Mode changed to 0\n"
                   "Net Mode changed to 0\n");
    EXPECT_EQ(sinks.netMode(), NetworkMode::Off);
}

TEST(OutputSinks, EveryWriteIsOneUdpDatagramInOrder)
{
    UdpReceiver receiver;
    OutputSinks sinks;
    CaptureStderr();
    ASSERT_EQ(sinks.applyNetMode(NetworkMode::Udp, "127.0.0.1", receiver.port), NetworkMode::Udp);
    // A transport-stream block and PDUs of other sizes, from a stage thread.
    std::thread writer([&] {
        for (uint32_t k = 0; k < 200; ++k) {
            const std::vector<uint8_t> b = block(k, k % 3 == 0 ? 1316 : 1 + k * 7);
            sinks.writeToSinks(b.data(), b.size());
        }
    });
    writer.join();
    EXPECT_TRUE(waitUntil([&] { return receiver.count() >= 200; }));
    // UDP again to another destination: the old socket is replaced, not kept.
    UdpReceiver other;
    ASSERT_EQ(sinks.applyNetMode(NetworkMode::Udp, "127.0.0.1", other.port), NetworkMode::Udp);
    const std::vector<uint8_t> last = block(999);
    sinks.writeToSinks(last.data(), last.size());
    EXPECT_TRUE(waitUntil([&] { return other.count() == 1; }));
    sinks.applyNetMode(NetworkMode::Off, "127.0.0.1", receiver.port);
    sinks.writeToSinks(last.data(), last.size());   // off: goes nowhere
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    GetCapturedStderr();
    const auto got = receiver.datagrams();
    ASSERT_EQ(got.size(), 200u);
    for (uint32_t k = 0; k < 200; ++k)
        EXPECT_EQ(got[k], block(k, k % 3 == 0 ? 1316 : 1 + k * 7)) << k;
    EXPECT_EQ(other.datagrams(), std::vector<std::vector<uint8_t>>{last});
}

TEST(OutputSinks, TcpClientsEachGetEveryWriteAndLeaveIndependently)
{
    OutputSinks sinks;
    CaptureStderr();
    ASSERT_EQ(sinks.applyNetMode(NetworkMode::TcpServer, "127.0.0.1", 0), NetworkMode::TcpServer);
    const uint16_t port = sinks.tcpServerPort();
    ASSERT_NE(port, 0);
    TcpClient first(port, true), second(port, true);
    ASSERT_TRUE(first.connected && second.connected);
    ASSERT_TRUE(waitUntil([&] { return sinks.tcpClientCount() == 2; }));

    auto write = [&](uint32_t from, uint32_t count) {
        for (uint32_t k = from; k < from + count; ++k) {
            const std::vector<uint8_t> b = block(k);
            sinks.writeToSinks(b.data(), b.size());
        }
    };
    write(0, 300);
    ASSERT_TRUE(waitUntil([&] { return first.size() == 300 * 1316u && second.size() == 300 * 1316u; }));
    EXPECT_EQ(first.bytes(), blocks(0, 300));
    EXPECT_EQ(second.bytes(), blocks(0, 300));

    first.close();
    ASSERT_TRUE(waitUntil([&] { return sinks.tcpClientCount() == 1; }));
    write(300, 300);
    ASSERT_TRUE(waitUntil([&] { return second.size() == 600 * 1316u; }));
    EXPECT_EQ(second.bytes(), blocks(0, 600));

    // Switching to UDP ends the TCP service and its clients.
    UdpReceiver receiver;
    ASSERT_EQ(sinks.applyNetMode(NetworkMode::Udp, "127.0.0.1", receiver.port), NetworkMode::Udp);
    EXPECT_TRUE(waitUntil([&] { return second.closedByServer(); }));
    EXPECT_EQ(sinks.tcpClientCount(), 0u);
    EXPECT_EQ(sinks.tcpServerPort(), 0);
    const std::string log = GetCapturedStderr();

    const std::string a = "127.0.0.1:" + std::to_string(first.localPort);
    const std::string b = "127.0.0.1:" + std::to_string(second.localPort);
    EXPECT_NE(log.find("TCP Socket accepted [ " + a + " ]\n"), std::string::npos) << log;
    EXPECT_NE(log.find("TCP Socket accepted [ " + b + " ]\n"), std::string::npos) << log;
    EXPECT_NE(log.find("TCP Socket closed [ " + a + " ]\n"), std::string::npos) << log;
    EXPECT_NE(log.find("TCP Socket closed [ " + b + " ]\n"), std::string::npos) << log;
    EXPECT_LT(log.find("TCP Socket closed [ " + a), log.find("Net Mode changed to 1"));
}

// A client that stops reading is dropped once its backlog is full; memory
// stays bounded and the reading client receives everything.
TEST(OutputSinks, AStalledClientIsClosedAndTheOtherKeepsReceiving)
{
    const size_t backlog = 1024 * 1024;
    OutputSinks sinks(backlog);
    CaptureStderr();
    ASSERT_EQ(sinks.applyNetMode(NetworkMode::TcpServer, "127.0.0.1", 0), NetworkMode::TcpServer);
    TcpClient stalled(sinks.tcpServerPort(), false);
    TcpClient reader(sinks.tcpServerPort(), true);
    ASSERT_TRUE(waitUntil([&] { return sinks.tcpClientCount() == 2; }));

    // Far more than the kernel's buffers and the backlog together. The
    // writer stays less than half a backlog ahead of the reading client, so
    // that one never falls behind however slowly the test machine runs.
    const uint32_t count = 20000;   // 26 MB
    std::thread writer([&] {
        for (uint32_t k = 0; k < count; ++k) {
            const std::vector<uint8_t> b = block(k);
            sinks.writeToSinks(b.data(), b.size());
            while (size_t(k + 1) * 1316 > reader.size() + backlog / 2 && !reader.closedByServer())
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    writer.join();
    ASSERT_TRUE(waitUntil([&] { return reader.size() == count * 1316u; }, 60000)) << reader.size();
    EXPECT_EQ(reader.bytes(), blocks(0, count));
    EXPECT_TRUE(waitUntil([&] { return stalled.peerGone(); }));
    EXPECT_EQ(sinks.tcpClientCount(), 1u);
    sinks.applyNetMode(NetworkMode::Off, "", 0);
    const std::string log = GetCapturedStderr();
    const std::string peer = "[ 127.0.0.1:" + std::to_string(stalled.localPort) + " ]\n";
    const size_t full = log.find("TCP Socket backlog full " + peer);
    ASSERT_NE(full, std::string::npos) << log;
    EXPECT_NE(log.find("TCP Socket closed " + peer, full), std::string::npos) << log;
    EXPECT_EQ(log.find("cannot keep up"), std::string::npos);
}

TEST(OutputSinks, RecordingTakesOnlyTheChosenType)
{
    QTemporaryDir dir;
    OutputSinks sinks;
    RecordFile& rec = sinks.recording();
    const std::vector<uint8_t> ts = block(1), symbols = block(2, 4096), samples = block(3, 65536);

    // Nothing open: nothing recorded, nothing sent.
    sinks.writeToSinks(ts.data(), ts.size());
    EXPECT_EQ(rec.bytesWritten(), 0u);

    const QString tsFile = dir.filePath("out.ts");
    ASSERT_TRUE(rec.open(tsFile));
    sinks.writeToSinks(ts.data(), ts.size());
    rec.write(RecordType::Symbols, symbols.data(), symbols.size());
    rec.write(RecordType::Samples, samples.data(), samples.size());
    sinks.writeToSinks(ts.data(), 188);
    EXPECT_EQ(rec.bytesWritten(), 1316u + 188);

    // Choosing another file ends the first; type 2 takes only sample blocks.
    const QString sampleFile = dir.filePath("out.iq");
    rec.setType(RecordType::Samples);
    ASSERT_TRUE(rec.open(sampleFile));
    sinks.writeToSinks(ts.data(), ts.size());
    rec.write(RecordType::Symbols, symbols.data(), symbols.size());
    rec.write(RecordType::Samples, samples.data(), samples.size());
    rec.setType(RecordType::Symbols);
    rec.write(RecordType::Symbols, symbols.data(), symbols.size());
    rec.write(RecordType::Samples, samples.data(), samples.size());
    rec.close();
    rec.write(RecordType::Symbols, symbols.data(), symbols.size());

    std::vector<uint8_t> expectTs(ts);
    expectTs.insert(expectTs.end(), ts.begin(), ts.begin() + 188);
    EXPECT_EQ(readFile(tsFile), expectTs);
    std::vector<uint8_t> expectIq(samples);
    expectIq.insert(expectIq.end(), symbols.begin(), symbols.end());
    EXPECT_EQ(readFile(sampleFile), expectIq);
    EXPECT_FALSE(rec.isOpen());

    CaptureStderr();
    EXPECT_FALSE(rec.open(dir.filePath("no/such/folder/file.ts")));
    EXPECT_EQ(GetCapturedStderr(), "Recording file could not be opened for writing!\n");
    EXPECT_FALSE(rec.isOpen());
    rec.write(RecordType::Symbols, symbols.data(), symbols.size());
    EXPECT_EQ(rec.bytesWritten(), 0u);
}

// Stage threads write while the controlling thread switches modes and
// starts and stops recordings: no write is torn or lost from a file, nothing
// crashes (the sanitizer builds watch the rest).
TEST(OutputSinks, WritesRaceSafelyWithModeAndRecordingChanges)
{
    QTemporaryDir dir;
    UdpReceiver receiver;
    OutputSinks sinks;
    CaptureStderr();
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 2; ++t) {
        writers.emplace_back([&, t] {
            for (uint32_t k = 0; !stop; ++k) {
                const std::vector<uint8_t> b = block(k * 2 + uint32_t(t));
                sinks.writeToSinks(b.data(), b.size());
                if (k % 64 == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    }
    std::vector<QString> files;
    for (int round = 0; round < 12; ++round) {
        const QString name = dir.filePath(QString("rec%1.ts").arg(round));
        files.push_back(name);
        ASSERT_TRUE(sinks.recording().open(name));
        const NetworkMode mode = NetworkMode(round % 3);
        sinks.applyNetMode(mode, "127.0.0.1", mode == NetworkMode::Udp ? receiver.port : 0);
        std::unique_ptr<TcpClient> client;
        if (mode == NetworkMode::TcpServer)
            client = std::make_unique<TcpClient>(sinks.tcpServerPort(), true);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (round % 2)
            sinks.recording().close();
    }
    stop = true;
    for (std::thread& w : writers)
        w.join();
    sinks.recording().close();
    GetCapturedStderr();

    size_t recorded = 0;
    for (const QString& name : files) {
        const std::vector<uint8_t> bytes = readFile(name);
        ASSERT_EQ(bytes.size() % 1316, 0u) << name.toStdString();
        for (size_t off = 0; off < bytes.size(); off += 1316) {
            const uint32_t k = uint32_t(bytes[off]) | uint32_t(bytes[off + 1]) << 8 | uint32_t(bytes[off + 2]) << 16
                | uint32_t(bytes[off + 3]) << 24;
            ASSERT_TRUE(std::equal(bytes.begin() + long(off), bytes.begin() + long(off + 1316), block(k).begin()));
        }
        recorded += bytes.size();
    }
    EXPECT_GT(recorded, 0u);
    for (const auto& d : receiver.datagrams())
        EXPECT_EQ(d.size(), 1316u);
}
