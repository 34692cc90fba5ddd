#include "devices/DeviceEnumerator.h"
#include "devices/TCPInputDevice.h"
#include "tests/LoopbackServer.h"
#include "tests/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <mutex>
#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// A one-connection server on the loopback address, run on its own thread:
// accepts, sends its bytes in random chunks, then closes.
class LoopbackServer {
public:
    explicit LoopbackServer(std::vector<uint8_t> payload, unsigned seed = 1, bool ipv6 = false,
                            size_t maxChunk = 37)
        : payload(std::move(payload)), seed(seed), maxChunk(maxChunk)
    {
        fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        if (ipv6) {
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            a.sin6_addr = in6addr_loopback;
            bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        } else {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
        listen(fd, 4);
        sockaddr_storage bound{};
        socklen_t len = sizeof bound;
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
        port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                          : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
        thread = std::thread([this] { serve(); });
    }
    ~LoopbackServer()
    {
        thread.join();
        ::close(fd);
    }

    int port = 0;
    std::atomic<size_t> sentBytes{0};   // handed to the kernel so far

private:
    void serve()
    {
        const int client = accept(fd, nullptr, nullptr);
        if (client < 0)
            return;
        std::mt19937 rng(seed);
        size_t sent = 0;
        while (sent < payload.size()) {
            sentBytes.store(sent);
            const size_t chunk = std::min<size_t>(1 + rng() % maxChunk, payload.size() - sent);
            const ssize_t n = ::send(client, payload.data() + sent, chunk, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += size_t(n);
            sentBytes.store(sent);
            if (maxChunk < 1000 && rng() % 8 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(200));   // split the reads
        }
        ::close(client);
    }

    std::vector<uint8_t> payload;
    unsigned seed;
    size_t maxChunk;
    int fd = -1;
    std::thread thread;
};

using Samples = std::vector<std::pair<int16_t, int16_t>>;

// Samples as the device's input thread hands them over: the count can be
// watched meanwhile, the samples read once the device is closed.
struct Received {
    Samples samples;
    std::atomic<size_t> count{0};
    SampleCallback callback()
    {
        return [this](int16_t i, int16_t q) {
            samples.emplace_back(i, q);
            ++count;
        };
    }
};

// Runs the event loop until `done` holds or the time is up.
template <typename Pred>
bool processEventsUntil(Pred done, int ms = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

struct ReportedError {
    QString title, text;
    int count = 0;
};

TCPInputDevice::SettingsPrompt promptWith(TcpInputSettings settings)
{
    return [settings]() { return std::optional<TcpInputSettings>(settings); };
}

void watchErrors(TCPInputDevice& device, ReportedError& error)
{
    device.setErrorReporter([&error](const QString& title, const QString& text) {
        error.title = title;
        error.text = text;
        ++error.count;
    });
}

} // namespace

// Every format, random chunk sizes: the exact sample sequence arrives, with
// samples split across reads joined again.
TEST(TcpInputDevice, DeliversEverySampleOfEachFormatInOrder)
{
    for (IqFormat format : {IqFormat::S8, IqFormat::S16, IqFormat::F32}) {
        SCOPED_TRACE(int(format));
        std::mt19937 rng(42 + int(format));
        const size_t count = 20000;
        Samples expected;
        std::vector<uint8_t> bytes;
        for (size_t k = 0; k < count; ++k) {
            const int16_t i = int16_t(rng()), q = int16_t(rng());
            if (format == IqFormat::S8) {
                expected.emplace_back(int16_t(int8_t(i) * 256), int16_t(int8_t(q) * 256));
                bytes.push_back(uint8_t(i));
                bytes.push_back(uint8_t(q));
            } else if (format == IqFormat::S16) {
                expected.emplace_back(i, q);
                for (int16_t v : {i, q}) {
                    bytes.push_back(uint8_t(v));
                    bytes.push_back(uint8_t(uint16_t(v) >> 8));
                }
            } else {
                expected.emplace_back(i, q);
                for (int16_t v : {i, q}) {
                    const float f = float(v) / 32768.0f;
                    uint8_t raw[4];
                    std::memcpy(raw, &f, 4);
                    bytes.insert(bytes.end(), raw, raw + 4);
                }
            }
        }
        LoopbackServer server(bytes, 7 + unsigned(format));
        TCPInputDevice device;
        TcpInputSettings settings;
        settings.port = server.port;
        settings.format = format;
        device.setSettingsPrompt(promptWith(settings));
        Received received;
        SampleCallback callback = received.callback();
        ASSERT_FALSE(device.open(callback));
        EXPECT_TRUE(processEventsUntil([&] { return received.count >= count; }));
        device.close();
        EXPECT_EQ(received.samples, expected);
    }
}

// The samples are read, converted and handed on by the device's own
// thread: they arrive while the thread that opened it is busy and runs no
// event loop (the window's GUI thread drawing, say).
TEST(TcpInputDevice, SamplesArriveWhileTheOpeningThreadIsBusy)
{
    std::vector<uint8_t> bytes(4 * 50000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i);
    LoopbackServer server(bytes);
    TCPInputDevice device;
    TcpInputSettings settings;
    settings.port = server.port;
    device.setSettingsPrompt(promptWith(settings));
    std::atomic<size_t> count{0};
    std::atomic<bool> elsewhere{true};
    const std::thread::id opener = std::this_thread::get_id();
    SampleCallback callback = [&](int16_t, int16_t) {
        if (std::this_thread::get_id() == opener)
            elsewhere = false;
        ++count;
    };
    ASSERT_FALSE(device.open(callback));
    EXPECT_TRUE(testsupport::waitUntil([&] { return count == bytes.size() / 4; }));
    EXPECT_TRUE(elsewhere);
    device.close();
}

TEST(TcpInputDevice, TakesItsRateFromTheSettings)
{
    LoopbackServer server({});
    TCPInputDevice device;
    TcpInputSettings settings;
    settings.port = server.port;
    settings.bandwidthMHz = 2.5;
    device.setSettingsPrompt(promptWith(settings));
    SampleCallback callback = [](int16_t, int16_t) {};
    ASSERT_FALSE(device.open(callback));
    EXPECT_EQ(device.getSampleRate(), 2500000u);
    EXPECT_EQ(device.getSampleRates(), std::vector<uint64_t>({2500000}));
    device.close();
    device.close();   // harmless when closed
    EXPECT_EQ(device.getSampleRate(), 2500000u) << "kept after closing";

    EXPECT_EQ(sampleRateFromMHz(0.1), 100000u);
    EXPECT_EQ(sampleRateFromMHz(2.000003), 2000003u);
    EXPECT_EQ(sampleRateFromMHz(99.999999), 99999999u);
    EXPECT_EQ(sampleRateFromMHz(1.1), 1100000u);
}

TEST(TcpInputDevice, RejectsHostNamesButTakesIpv6Literals)
{
    TCPInputDevice device;
    ReportedError error;
    watchErrors(device, error);
    SampleCallback callback = [](int16_t, int16_t) {};

    TcpInputSettings named;
    named.address = "localhost";
    device.setSettingsPrompt(promptWith(named));
    EXPECT_TRUE(device.open(callback));
    EXPECT_EQ(error.title, "Network Settings");
    EXPECT_EQ(error.text, "'localhost' is not a valid IP address!");

    LoopbackServer server({1, 0, 2, 0}, 1, true);
    TcpInputSettings v6;
    v6.address = "::1";
    v6.port = server.port;
    device.setSettingsPrompt(promptWith(v6));
    Received received;
    callback = received.callback();
    EXPECT_FALSE(device.open(callback));
    EXPECT_TRUE(processEventsUntil([&] { return received.count > 0; }));
    device.close();
    EXPECT_EQ(received.samples, Samples({{1, 2}}));
    EXPECT_EQ(error.count, 1);
}

TEST(TcpInputDevice, RefusedConnectionIsReported)
{
    TCPInputDevice device;
    ReportedError error;
    watchErrors(device, error);
    TcpInputSettings settings;
    settings.port = testsupport::closedPort();
    device.setSettingsPrompt(promptWith(settings));
    SampleCallback callback = [](int16_t, int16_t) {};
    EXPECT_TRUE(device.open(callback));
    EXPECT_EQ(error.title, "Network Settings");
    // Said as a refusal, with the address: the socket itself was made.
    EXPECT_EQ(error.text, QString("TCP connection refused. addr: 127.0.0.1, port: %1").arg(settings.port));
}

// A server whose accept queue is full ignores new connection requests, so
// the connection attempt runs into the time-out.
TEST(TcpInputDevice, ConnectionTimeOutIsReported)
{
    testsupport::UnansweredPort unanswered;
    TCPInputDevice device;
    EXPECT_EQ(TCPInputDevice::kConnectTimeoutMs, 5000);
    device.setConnectTimeoutMs(300);
    ReportedError error;
    watchErrors(device, error);
    TcpInputSettings settings;
    settings.port = unanswered.port;
    device.setSettingsPrompt(promptWith(settings));
    SampleCallback callback = [](int16_t, int16_t) {};
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(device.open(callback));
    EXPECT_GE(timer.elapsed(), 250);
    EXPECT_EQ(error.text, QString("TCP connection timed out after 0.3 s. addr: 127.0.0.1, port: %1").arg(settings.port));
}

// With a connect handler open() returns at once: the samples flow once the
// server answers and the handler hears it; a refusal or a time-out is
// reported, then heard as a failure; a close while connecting hears nothing.
TEST(TcpInputDevice, ConnectsWithoutWaitingWhenAHandlerListens)
{
    std::mutex heardMutex;
    std::vector<int> heard;   // on the input thread
    auto heardSoFar = [&] {
        std::lock_guard<std::mutex> lock(heardMutex);
        return heard;
    };
    auto forget = [&] {
        std::lock_guard<std::mutex> lock(heardMutex);
        heard.clear();
    };
    ReportedError error;
    // A device that listens for the outcome, set to connect to `port`.
    auto deviceFor = [&](int port) {
        auto device = std::make_unique<TCPInputDevice>();
        device->setConnectHandler([&](bool ok) {
            std::lock_guard<std::mutex> lock(heardMutex);
            heard.push_back(ok);
        });
        watchErrors(*device, error);
        TcpInputSettings settings;
        settings.port = port;
        device->setSettingsPrompt(promptWith(settings));
        return device;
    };
    std::vector<uint8_t> bytes(4000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7);
    {
        LoopbackServer server(bytes);
        const auto device = deviceFor(server.port);
        std::atomic<size_t> samples{0};
        SampleCallback callback = [&samples](int16_t, int16_t) { ++samples; };
        EXPECT_FALSE(device->open(callback));
        EXPECT_TRUE(processEventsUntil([&] { return samples == bytes.size() / 4; }));
        EXPECT_EQ(heardSoFar(), std::vector<int>{1});
        EXPECT_FALSE(device->connecting());
        device->close();
    }
    EXPECT_EQ(error.count, 0);

    SampleCallback callback = [](int16_t, int16_t) {};
    const int refusing = testsupport::closedPort();
    {
        const auto device = deviceFor(refusing);
        forget();
        EXPECT_FALSE(device->open(callback));
        // The error is posted to this thread before the handler hears.
        EXPECT_TRUE(processEventsUntil([&] { return !heardSoFar().empty() && error.count > 0; }));
        EXPECT_EQ(heardSoFar(), std::vector<int>{0});
        EXPECT_EQ(error.count, 1);
        EXPECT_EQ(error.text, QString("TCP connection refused. addr: 127.0.0.1, port: %1").arg(refusing));
    }

    // A server that never answers: open() has returned while the connect
    // is still under way; then the time-out, once.
    testsupport::UnansweredPort unanswered;
    const auto device = deviceFor(unanswered.port);
    device->setConnectTimeoutMs(500);
    forget();
    error.count = 0;
    EXPECT_FALSE(device->open(callback));
    EXPECT_TRUE(device->connecting());
    EXPECT_TRUE(heardSoFar().empty());
    EXPECT_TRUE(processEventsUntil([&] { return !heardSoFar().empty() && error.count > 0; }));
    processEventsUntil([] { return false; }, 300);
    EXPECT_EQ(heardSoFar(), std::vector<int>{0});
    EXPECT_EQ(error.count, 1);
    EXPECT_EQ(error.text, QString("TCP connection timed out after 0.5 s. addr: 127.0.0.1, port: %1").arg(unanswered.port));

    // Closed while connecting: no word afterwards.
    forget();
    EXPECT_FALSE(device->open(callback));
    device->close();
    EXPECT_FALSE(device->connecting());
    processEventsUntil([] { return false; }, 700);
    EXPECT_TRUE(heardSoFar().empty());
    EXPECT_EQ(error.count, 1);
}

TEST(TcpInputDevice, CancelledPromptFailsSilently)
{
    TCPInputDevice device;
    ReportedError error;
    watchErrors(device, error);
    device.setSettingsPrompt([] { return std::optional<TcpInputSettings>(); });
    SampleCallback callback = [](int16_t, int16_t) {};
    EXPECT_TRUE(device.open(callback));
    EXPECT_EQ(error.count, 0);
}

TEST(TcpInputDevice, ServerThatClosesAtOnceLeavesTheDeviceOpenAndQuiet)
{
    LoopbackServer server({9});   // one byte: never a whole sample
    TCPInputDevice device;
    TcpInputSettings settings;
    settings.port = server.port;
    device.setSettingsPrompt(promptWith(settings));
    std::atomic<int> calls{0};
    SampleCallback callback = [&calls](int16_t, int16_t) { ++calls; };
    ASSERT_FALSE(device.open(callback));
    processEventsUntil([] { return false; }, 300);
    EXPECT_EQ(calls, 0);
    device.close();
}

// A fast server: samples are handed on as they come, none lost.
TEST(TcpInputDevice, ManyMegabytesArriveComplete)
{
    const size_t count = 4 << 20;   // 16 MiB of 16-bit samples
    std::vector<uint8_t> bytes(count * 4);
    for (size_t k = 0; k < count; ++k) {
        const uint16_t v = uint16_t(k);
        bytes[4 * k] = uint8_t(v);
        bytes[4 * k + 1] = uint8_t(v >> 8);
        bytes[4 * k + 2] = uint8_t(~v);
        bytes[4 * k + 3] = uint8_t(uint16_t(~v) >> 8);
    }
    LoopbackServer server(std::move(bytes), 3, false, 1 << 20);
    TCPInputDevice device;
    TcpInputSettings settings;
    settings.port = server.port;
    device.setSettingsPrompt(promptWith(settings));
    std::atomic<size_t> received{0}, wrong{0};
    SampleCallback callback = [&](int16_t i, int16_t q) {
        if (uint16_t(i) != uint16_t(received) || uint16_t(q) != uint16_t(~uint16_t(received)))
            ++wrong;
        ++received;
    };
    ASSERT_FALSE(device.open(callback));
    EXPECT_TRUE(processEventsUntil([&] { return received >= count; }, 120000));
    EXPECT_EQ(received, count);
    EXPECT_EQ(wrong, 0u);
}

// A server far faster than the chain: while flow control says no, nothing
// is delivered and TCP holds the server back (it cannot hand the kernel more
// than the socket buffers take); once it says yes everything arrives, and
// the end of the stream is reported once, after the last sample.
TEST(TcpInputDevice, FlowControlHoldsAFastServerBack)
{
    const size_t count = 16 << 20;   // 64 MiB of 16-bit samples
    std::vector<uint8_t> bytes(count * 4);
    for (size_t k = 0; k < count; ++k) {
        bytes[4 * k] = uint8_t(k);
        bytes[4 * k + 1] = uint8_t(k >> 8);
    }
    LoopbackServer server(std::move(bytes), 5, false, 1 << 20);
    TCPInputDevice device;
    TcpInputSettings settings;
    settings.port = server.port;
    device.setSettingsPrompt(promptWith(settings));
    std::atomic<bool> ready{true};
    device.setFlowControl([&ready] { return ready.load(); });
    std::atomic<int> ends{0};
    std::atomic<size_t> receivedAtEnd{0}, received{0}, wrong{0};
    device.setDisconnectHandler([&] {
        ++ends;
        receivedAtEnd = received.load();
    });
    SampleCallback callback = [&](int16_t i, int16_t) {
        if (uint16_t(i) != uint16_t(received))
            ++wrong;
        if (++received == 1000000)
            ready = false;   // the chain falls behind
    };
    ASSERT_FALSE(device.open(callback));
    ASSERT_TRUE(processEventsUntil([&] { return !ready; }, 20000));
    processEventsUntil([] { return false; }, 500);
    EXPECT_LT(received, size_t(1000000) + size_t(TCPInputDevice::kReadChunkBytes))
        << "at most the chunk being delivered";
    EXPECT_LT(server.sentBytes.load(), size_t(48) << 20) << "the server was held back";
    EXPECT_EQ(ends, 0);

    ready = true;
    EXPECT_TRUE(processEventsUntil([&] { return ends > 0; }, 120000));
    EXPECT_EQ(received, count);
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(receivedAtEnd, count);
    processEventsUntil([] { return false; }, 100);
    EXPECT_EQ(ends, 1);
}

// A server that sends its samples and hangs up while the reader is paused:
// the samples still come out, then the end.
TEST(TcpInputDevice, SamplesSentBeforeTheServerHungUpAreDeliveredFirst)
{
    std::vector<uint8_t> bytes(4 * 300000 + 3);   // and a part sample, dropped
    for (size_t k = 0; k < bytes.size(); ++k)
        bytes[k] = uint8_t(k / 4);
    LoopbackServer server(std::move(bytes), 7, false, 1 << 16);
    TCPInputDevice device;
    TcpInputSettings settings;
    settings.port = server.port;
    device.setSettingsPrompt(promptWith(settings));
    std::atomic<bool> ready{false};
    device.setFlowControl([&ready] { return ready.load(); });
    std::atomic<size_t> received{0};
    std::atomic<int> ends{0};
    device.setDisconnectHandler([&] { ++ends; });
    SampleCallback callback = [&](int16_t, int16_t) { ++received; };
    ASSERT_FALSE(device.open(callback));
    processEventsUntil([&] { return server.sentBytes.load() == 4 * 300000 + 3; }, 10000);
    processEventsUntil([] { return false; }, 300);   // the hang-up arrives meanwhile
    EXPECT_EQ(received, 0u);
    EXPECT_EQ(ends, 0);
    ready = true;
    EXPECT_TRUE(processEventsUntil([&] { return ends > 0; }, 10000));
    EXPECT_EQ(received, 300000u);
    device.close();
}

TEST(DeviceEnumerator, WithoutRadiosListsOnlyTheTcpInput)
{
    const DeviceEnumerator enumeratorOfThisBuild;
    EXPECT_EQ(enumeratorOfThisBuild.devices().back()->getDeviceName(), "TCP Input Device");

    DeviceEnumerator enumerator(DeviceLibraries{});
    ASSERT_EQ(enumerator.devices().size(), 1u);
    InputDevice* last = enumerator.devices().back();
    EXPECT_EQ(last->getDeviceName(), "TCP Input Device");
    EXPECT_EQ(last->getTypeName(), "TCPInputDevice");
    EXPECT_EQ(last, &enumerator.tcpDevice());

    CaptureStdout();
    enumerator.addNetworkContext("192.168.2.1");
    EXPECT_EQ(GetCapturedStdout(), "plutosdr network context: 192.168.2.1\n");
    EXPECT_EQ(enumerator.devices().size(), 1u);
}
