// tavirel-cli as a user runs it: recordings of an independent transmitter
// and signals of our own transmitter in, the transport stream out, checked
// packet for packet; bad inputs end cleanly with the documented exit codes.
#include "devices/SigmfMetadata.h"
#include "tests/LoopbackServer.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kData = TAVIREL_TEST_DATA;

using testsupport::dropLeadingErrorPackets;
using testsupport::dropTrailingErrorPackets;
using testsupport::packetsInOrder;
using testsupport::readFile;
using testsupport::ToolRun;

std::string temp(const std::string& name)
{
    return testsupport::tempPath("cli_" + name);
}

ToolRun run(const std::string& program, const std::string& arguments)
{
    return testsupport::runTool(program, arguments);
}

ToolRun cli(const std::string& arguments)
{
    return run(TAVIREL_CLI, arguments);
}

// The longest run of whole packets that ends with the last packet of `out`
// and appears in `sent` at a packet boundary: what came out once the
// receiver had settled.
size_t lastPacketsInOrder(const std::vector<uint8_t>& out, const std::vector<uint8_t>& sent)
{
    const size_t n = out.size() / 188, m = sent.size() / 188;
    size_t best = 0;
    for (size_t e = 0; e < m; ++e) {   // e: where the last packet sits in `sent`
        size_t k = 0;
        while (k < n && k <= e &&
               std::equal(out.begin() + long(188 * (n - 1 - k)), out.begin() + long(188 * (n - k)),
                          sent.begin() + long(188 * (e - k))))
            ++k;
        best = std::max(best, k);
    }
    return best;
}

struct Recording {
    const char* name;
    const char* options;
    size_t minimumPackets;   // of the packets the recording carries complete
    const char* service;
    const char* testName = nullptr;   // when a recording runs more than once
};

void PrintTo(const Recording& r, std::ostream* os)
{
    *os << (r.testName ? r.testName : r.name);
}

class IndependentRecording : public testing::TestWithParam<Recording> {};

} // namespace

// Each recording decodes to its transport stream: every packet out, from the
// first, in order and unchanged, and the service named in its SDT.
TEST_P(IndependentRecording, DecodesToTheTransportStreamItCarries)
{
    const Recording& rec = GetParam();
    const std::string out = temp(std::string(rec.testName ? rec.testName : rec.name) + ".ts");
    const ToolRun r = cli("--input file:" + kData + "/" + rec.name + ".iq " + rec.options + " --status-interval 0 --output file:" +
                      out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<uint8_t> ts = readFile(out);
    const std::vector<uint8_t> sent = readFile(kData + "/" + rec.name + ".ts");
    ASSERT_EQ(ts.size() % 188, 0u);
    dropLeadingErrorPackets(ts);
    dropTrailingErrorPackets(ts);
    EXPECT_GE(ts.size() / 188, rec.minimumPackets);
    EXPECT_EQ(packetsInOrder(ts, sent), ts.size() / 188);
    EXPECT_NE(r.out.find("summary: locked"), std::string::npos) << r.out.substr(r.out.size() > 600 ? r.out.size() - 600 : 0);
    EXPECT_NE(r.out.find(rec.service), std::string::npos);
    EXPECT_NE(r.out.find(" 0 CC errors"), std::string::npos);
}

// The first frames go to acquisition (and, at 8 dB, a few fail): the bounds
// leave that margin and no more.
INSTANTIATE_TEST_SUITE_P(
    Fixtures, IndependentRecording,
    testing::Values(Recording{"dvbs2_qpsk12_normal_pilots", "--format s8 --sample-rate 2000000", 350,
                              "DVBS2 QPSK12 NORMAL PILOTS"},
                    Recording{"dvbs2_8psk23_normal_pilots", "--format s16 --sample-rate 2400000", 600,
                              "DVBS2 8PSK23 NORMAL PILOTS"},
                    Recording{"dvbs2_qpsk34_short_nopilots", "--format s16 --sample-rate 2500000", 250,
                              "DVBS2 QPSK34 SHORT NOPILOTS"},
                    // Es/N0 4 dB, 3 dB above the code's threshold, with the
                    // carrier 2 kHz off: tuned to it, as at the window.
                    Recording{"dvbs2_qpsk12_normal_pilots_noisy", "--format s16 --sample-rate 2000000 --offset 2000", 400,
                              "DVBS2 QPSK12 NORMAL PILOTS NOISY"},
                    // The same untuned: the receiver finds the carrier on the
                    // headers; the frame whose header turned too far to be
                    // read and the first after the correction are lost
                    // (19 of 21 frames of 21 packets).
                    Recording{"dvbs2_qpsk12_normal_pilots_noisy", "--format s16 --sample-rate 2000000", 399,
                              "DVBS2 QPSK12 NORMAL PILOTS NOISY", "dvbs2_qpsk12_normal_pilots_noisy_untuned"},
                    // DVB-S, the alignment found automatically: the packets
                    // before it (2 and 10 combinations left behind) are lost.
                    Recording{"dvbs_qpsk12", "--standard dvbs --code-rate 1/2 --format s16 --sample-rate 2000000", 200,
                              "DVBS QPSK12"},
                    Recording{"dvbs_qpsk78", "--standard dvbs --code-rate 7/8 --format s8 --sample-rate 2000000", 350,
                              "DVBS QPSK78"}),
    [](const testing::TestParamInfo<Recording>& info) {
        return std::string(info.param.testName ? info.param.testName : info.param.name);
    });

// The recording looped with PL frames cut out (whole ones, which leave the
// frame timing as it was, and 50000 samples from the middle of one): every
// packet out starts with a sync byte and is a packet of the stream, or is
// marked with the transport error indicator; what is cut costs its own
// packets and the ones it splits.
TEST(CliRun, FramesCutOutOfALoopedRecordingLeaveOnlyAlignedPackets)
{
    const std::vector<uint8_t> once = readFile(kData + "/dvbs2_qpsk12_normal_pilots.iq");
    const size_t frameBytes = 66564 * 2;   // s8 I, Q at 2 samples per symbol
    ASSERT_EQ(once.size(), 24 * frameBytes);
    std::vector<uint8_t> iq;
    for (int round = 0; round < 4; ++round) {
        for (size_t f = 0; f < 24; ++f) {
            if ((round == 1 && f == 10) || (round == 2 && (f == 3 || f == 4)))
                continue;   // whole frames
            auto begin = once.begin() + long(f * frameBytes), end = begin + long(frameBytes);
            if (round == 3 && f == 12) {   // 50000 samples from the middle
                iq.insert(iq.end(), begin, begin + 30000);
                begin += 30000 + 100000;
            }
            iq.insert(iq.end(), begin, end);
        }
    }
    const std::string in = temp("cut.iq"), out = temp("cut.ts");
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(iq.data()), long(iq.size()));
    const ToolRun r = cli("--input file:" + in + " --format s8 --status-interval 0 --output file:" + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<uint8_t> ts = readFile(out), sent = readFile(kData + "/dvbs2_qpsk12_normal_pilots.ts");
    size_t damaged = 0, foreign = 0;
    for (size_t k = 0; k + 188 <= ts.size(); k += 188) {
        ASSERT_EQ(ts[k], 0x47) << "packet " << k / 188;
        if (ts[k + 1] & 0x80) {
            ++damaged;
            continue;
        }
        bool found = false;
        for (size_t s = 0; s + 188 <= sent.size() && !found; s += 188)   // the first carries no sync byte
            found = std::equal(ts.begin() + long(k + 1), ts.begin() + long(k + 188), sent.begin() + long(s + 1));
        foreign += !found;
    }
    EXPECT_EQ(foreign, 0u) << "packets that are not the stream's";
    // 4 × 512 packets sent, 4 frames (≈ 86 packets) cut. After the cut in
    // the middle of a frame two headers in a row do not decode at the old
    // timing, the lock goes and the next SOF is taken: beyond the frames the
    // cut splits, the first frame and the cut ones, about a frame (21
    // packets) more. (Before, the locked timing carried on for some 16
    // frames: about 1660 packets came through.)
    EXPECT_GE(ts.size() / 188 - damaged, 1880u) << r.out.substr(r.out.size() > 600 ? r.out.size() - 600 : 0);
}

// Our transmitter's signals through a file: variable coding (every frame
// decoded with its own code), short frames, 2.5 samples per symbol.
TEST(CliRun, OwnTransmitterSignalsDecodePacketForPacket)
{
    const std::string sent = kData + "/dvbs2_qpsk12_normal_pilots.ts";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--modcod \"QPSK 1/2,8PSK 2/3\" --pilots on --sample-rate 2000000 --frames 40", "--sample-rate 2000000"},
        {"--modcod \"QPSK 2/3\" --frame short --rolloff 0.20 --sample-rate 2500000 --offset 3000 --frames 120",
         "--sample-rate 2500000"},
    };
    for (const auto& c : cases) {
        const std::string iq = temp("own.iq"), out = temp("own.ts");
        const ToolRun tx = run(TAVIREL_SIGGEN, c.first + " --ts " + sent + " --loop --esn0 15 --output " + iq);
        ASSERT_EQ(tx.exitCode, 0) << tx.err;
        const ToolRun r = cli("--input file:" + iq + " " + c.second + " --status-interval 0 --output file:" + out);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::vector<uint8_t> ts = readFile(out);
        const std::vector<uint8_t> source = readFile(sent);
        // The looped file: the stream out may wrap around it once.
        std::vector<uint8_t> looped = source;
        looped.insert(looped.end(), source.begin(), source.end());
        looped.insert(looped.end(), source.begin(), source.end());
        EXPECT_GT(ts.size() / 188, 300u) << c.first << "\n" << r.out.substr(0, 3000);
        EXPECT_EQ(packetsInOrder(ts, looped), ts.size() / 188) << c.first;
    }
}

// DVB-S at every code rate, with the constellation's turn and the
// depuncturing phase found by the automatic alignment: once it has locked,
// every packet is the stream sent, up to the silence that pushes the last
// block through (decoded into packets marked with the transport error
// indicator).
TEST(CliRun, DvbsEveryRateFindsItsAlignmentAndDecodes)
{
    const std::string sent = kData + "/dvbs_qpsk12.ts";
    const std::vector<uint8_t> once = readFile(sent);
    std::vector<uint8_t> looped;
    for (int round = 0; round < 12; ++round)
        looped.insert(looped.end(), once.begin(), once.end());
    for (const char* rate : {"1/2", "2/3", "3/4", "5/6", "7/8"}) {
        const std::string iq = temp("dvbs.iq"), out = temp("dvbs.ts");
        const ToolRun tx = run(TAVIREL_SIGGEN, std::string("--standard dvbs --code-rate ") + rate + " --ts " + sent +
                                                   " --loop --esn0 12 --duration 3 --output " + iq);
        ASSERT_EQ(tx.exitCode, 0) << tx.err;
        const ToolRun r = cli("--input file:" + iq + " --standard dvbs --code-rate " + rate +
                              " --status-interval 0 --verbose --output file:" + out);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::vector<uint8_t> ts = readFile(out);
        dropTrailingErrorPackets(ts);
        EXPECT_NE(r.err.find("DVB-S alignment: "), std::string::npos) << rate;
        // Once aligned, everything: at least two of the three seconds.
        const size_t perSecond = size_t(rate[0] - '0') * 1000000 * 2 / size_t(rate[2] - '0') * 188 / 204 / 8 / 188;
        EXPECT_GT(lastPacketsInOrder(ts, looped), 2 * perSecond) << rate << "\n" << r.out.substr(0, 3000);
    }
}

// Recordings: the raw samples as the device callback gathered them (whole
// blocks of 16-bit I, Q), and the symbols the demodulator took in.
TEST(CliRun, RecordsSamplesAndSymbols)
{
    const std::string in = kData + "/dvbs2_qpsk12_normal_pilots.iq";
    const std::string samples = temp("rec_samples.iq"), symbols = temp("rec_symbols.iq");
    ToolRun r = cli("--input file:" + in + " --format s8 --status-interval 0 --record samples:" + samples);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<uint8_t> raw = readFile(in), recorded = readFile(samples);
    // Every sample of the input as 16 bits, nothing added.
    ASSERT_EQ(recorded.size(), raw.size() / 2 * 2 * 2);
    for (size_t k = 0; k < raw.size() / 2 * 2; ++k)
        ASSERT_EQ(int16_t(recorded[2 * k] | recorded[2 * k + 1] << 8), int16_t(int8_t(raw[k]) * 256)) << k;

    r = cli("--input file:" + in + " --format s8 --status-interval 0 --record symbols:" + symbols);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // One 4-byte symbol per two samples, give or take the timing loop.
    const double ratio = double(readFile(symbols).size()) / double(recorded.size());
    EXPECT_NEAR(ratio, 0.5, 0.01);

    EXPECT_EQ(cli("--input file:" + in + " --record samples:/nonexistent/dir/x.iq").exitCode, 1);

    // Both at once: each file as its recording alone gives it.
    const std::string samples2 = temp("rec_both_samples.iq"), symbols2 = temp("rec_both_symbols.iq");
    std::remove(samples2.c_str());
    std::remove(symbols2.c_str());
    r = cli("--input file:" + in + " --format s8 --status-interval 0 --record symbols:" + symbols2 +
            " --record samples:" + samples2);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(samples2), recorded);
    EXPECT_NEAR(double(readFile(symbols2).size()) / double(recorded.size()), 0.5, 0.01);
    // A second recording of one kind: refused before anything is opened.
    std::remove(samples2.c_str());
    r = cli("--input file:" + in + " --format s8 --record samples:" + samples2 + " --record samples:" + symbols2);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("one recording of each kind"), std::string::npos) << r.err;
    EXPECT_FALSE(std::ifstream(samples2).good());
}

// A generic stream of GSE packets: every PDU out whole, one per write, in
// the order sent (the transmitter's PDUs start with a running counter).
TEST(CliRun, GseStreamDeliversEveryPdu)
{
    const std::string iq = temp("gse.iq"), out = temp("gse.bin");
    const ToolRun tx = run(TAVIREL_SIGGEN, "--gse --gse-pdu-size 1500 --frames 40 --output " + iq);
    ASSERT_EQ(tx.exitCode, 0) << tx.err;
    const ToolRun r = cli("--input file:" + iq + " --status-interval 0 --output file:" + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<uint8_t> pdus = readFile(out);
    ASSERT_EQ(pdus.size() % 1500, 0u);
    ASSERT_GT(pdus.size() / 1500, 50u) << r.out.substr(0, 2000);
    auto counter = [&](size_t k) {
        uint64_t c = 0;
        for (int i = 0; i < 8; ++i)
            c = c << 8 | pdus[1500 * k + size_t(i)];
        return c;
    };
    for (size_t k = 1; k < pdus.size() / 1500; ++k)
        ASSERT_EQ(counter(k), counter(k - 1) + 1) << k;
}

// The alignment given by hand (the derotation and the presses of the skip
// button): no search, the stream from its first lock; a wrong skip gives
// nothing at all.
TEST(CliRun, DvbsAlignmentGivenByHand)
{
    struct Case {
        const char* name;
        const char* options;
        size_t minimumPackets;
    };
    for (const Case& c : {Case{"dvbs_qpsk12", "--code-rate 1/2 --format s16 --derotate 64 --skip 0", 270},
                          Case{"dvbs_qpsk78", "--code-rate 7/8 --format s8 --derotate 64 --skip 2", 500},
                          Case{"dvbs_qpsk78", "--code-rate 7/8 --format s8 --derotate 64 --skip 3", 0}}) {
        const std::string out = temp("manual.ts");
        const ToolRun r = cli("--input file:" + kData + "/" + c.name + ".iq --standard dvbs " + c.options +
                              " --status-interval 0 --verbose --output file:" + out);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::vector<uint8_t> ts = readFile(out);
        dropTrailingErrorPackets(ts);
        dropLeadingErrorPackets(ts);   // the deinterleaver filling as the lock is taken
        EXPECT_EQ(r.err.find("DVB-S alignment: "), std::string::npos) << c.options;
        if (c.minimumPackets == 0) {
            EXPECT_EQ(ts.size(), 0u) << c.options;
            EXPECT_NE(r.out.find("summary: no lock"), std::string::npos) << c.options;
            continue;
        }
        EXPECT_GE(ts.size() / 188, c.minimumPackets) << c.options;
        EXPECT_EQ(packetsInOrder(ts, readFile(kData + "/" + c.name + ".ts")), ts.size() / 188) << c.options;
        EXPECT_NE(r.out.find("summary: locked"), std::string::npos) << c.options;
    }
}

// Over TCP from a server that paces the samples in real time.
TEST(CliRun, ReceivesFromATcpServer)
{
    const int port = 20000 + int(getpid() % 20000);
    const std::string sent = kData + "/dvbs2_qpsk12_normal_pilots.ts";
    std::thread server([&] {
        // Bounded: after its client has gone the server would wait for the next.
        run(std::string("timeout 15 ") + TAVIREL_SIGGEN,
            "--modcod \"QPSK 1/2\" --pilots on --ts " + sent + " --loop --realtime --duration 4 --serve 127.0.0.1:" +
                                std::to_string(port));
    });
    // Wait until the server listens (slow to start under the sanitizers);
    // connecting to probe would take its one client place.
    EXPECT_TRUE(testsupport::waitUntil([&] { return testsupport::tcpListening(port); }, 15000));
    // The stream also goes to a UDP socket of ours, one datagram per block.
    const int udp = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(udp, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    getsockname(udp, reinterpret_cast<sockaddr*>(&addr), &len);
    int size = 8 << 20;
    setsockopt(udp, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    std::vector<uint8_t> datagrams;
    std::vector<size_t> sizes;
    std::mutex received;
    std::atomic<bool> done{false};
    std::thread receiver([&] {
        timeval wait{0, 100000};
        setsockopt(udp, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        std::vector<uint8_t> buffer(65536);
        while (!done.load()) {
            const ssize_t got = recv(udp, buffer.data(), buffer.size(), 0);
            if (got > 0) {
                std::lock_guard<std::mutex> lock(received);
                datagrams.insert(datagrams.end(), buffer.begin(), buffer.begin() + got);
                sizes.push_back(size_t(got));
            }
        }
    });

    const std::string out = temp("tcp.ts");
    const ToolRun r = cli("--input tcp:127.0.0.1:" + std::to_string(port) + " --status-interval 0 --duration 6 --output file:" +
                          out + " --output udp:127.0.0.1:" + std::to_string(ntohs(addr.sin_port)));
    server.join();
    const std::vector<uint8_t> ts = readFile(out);
    // Every datagram was sent before the program ended; the socket's buffer
    // holds what the receiver has not read yet.
    testsupport::waitUntil([&] {
        std::lock_guard<std::mutex> lock(received);
        return datagrams.size() >= ts.size();
    });
    done.store(true);
    receiver.join();
    close(udp);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(datagrams, ts) << "the datagrams carry what the file got";
    for (const size_t n : sizes)
        EXPECT_EQ(n, 1316u);
    // The server loops its file (580 packets) at some 600 packets a second;
    // under the thread sanitizer, with another test beside it, the receiver
    // takes in a sixth of that or less, and still every packet in order.
    const std::vector<uint8_t> once = readFile(sent);
    std::vector<uint8_t> looped;
    for (int round = 0; round < 12; ++round)
        looped.insert(looped.end(), once.begin(), once.end());
    EXPECT_GT(ts.size() / 188, 250u) << r.out.substr(0, 2000);
    EXPECT_EQ(packetsInOrder(ts, looped), ts.size() / 188);
}

TEST(CliRun, ExitCodesAndCleanEnds)
{
    // Bad options: 1, naming the option.
    ToolRun r = cli("--input file:x --symbol-rate 3000000");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("--symbol-rate"), std::string::npos) << r.err;
    EXPECT_EQ(cli("--bogus").exitCode, 1);
    // An input that cannot be opened: 2.
    r = cli("--input file:/nonexistent/x.iq");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("/nonexistent/x.iq"), std::string::npos);
    // Nobody listening: said as a refusal, with the address.
    r = cli("--input tcp:127.0.0.1:1");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("TCP connection refused. addr: 127.0.0.1, port: 1"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("couldn't be created"), std::string::npos) << r.err;
    // A directory reads as nothing: it cannot be opened as an input.
    r = cli("--input file:" + kData);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find(kData), std::string::npos);
    // A host name that does not resolve is a bad option, input or output.
    EXPECT_EQ(cli("--input tcp:no-such-host.invalid:7777").exitCode, 1);
    EXPECT_EQ(cli("--input file:/nonexistent/x.iq --output udp:no-such-host.invalid:5000").exitCode, 1);

    // Random bytes ending mid-sample: no lock, a summary, exit 0.
    const std::string noise = temp("noise.iq");
    {
        std::mt19937 rng(3);
        std::ofstream f(noise, std::ios::binary);
        for (int i = 0; i < 3000001; ++i)
            f.put(char(rng()));
    }
    r = cli("--input file:" + noise + " --status-interval 0 --output file:" + temp("noise.ts"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("summary: no lock"), std::string::npos) << r.out.substr(0, 2000);

    // Silence: no frame received, so no MODCOD, rather than the code's
    // initial dummy frame.
    const std::string silence = temp("silence.iq");
    std::ofstream(silence, std::ios::binary) << std::string(2000000, '\0');
    r = cli("--input file:" + silence + " --status-interval 0 --verbose");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("summary: no lock (0/32), no signal | no frames | frames 0 ok, 0 failed"), std::string::npos)
        << r.out.substr(0, 2000);
    EXPECT_NE(r.err.find("samp_rate: "), std::string::npos) << "the log is there";
    EXPECT_EQ(r.err.find("DUMMY FRAME"), std::string::npos) << r.err.substr(0, 2000);
    r = cli("--input file:" + silence + " --status-interval 0 --json");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("\"modcod\":null,\"modcod_decoded\":true,\"pls\":null,\"frame\":null"), std::string::npos)
        << r.out.substr(0, 2000);

    // Standard input in, standard output carrying only the stream.
    r = cli("--input - --format s8 --status-interval 0 --output - < " + kData + "/dvbs2_qpsk12_normal_pilots.iq");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.size() % 188, 0u);
    EXPECT_GT(r.out.size(), 300u * 188);
    EXPECT_EQ(r.out[0], char(0x47));
    EXPECT_NE(r.err.find("summary: locked"), std::string::npos);
}

// Standard input that cannot be read is an input that cannot be opened, and
// a standard output that cannot carry the stream is a failed output: both
// refused before the receiver runs, never a successful empty run. A closed
// descriptor is not taken by one the program opens itself.
TEST(CliRun, UnusableStandardStreamsAreRefused)
{
    const std::string writeOnly = temp("stdin_write_only");
    const std::vector<std::pair<std::string, std::string>> inputs = {
        {"<&-", "standard input is closed"},
        {"< " + kData, "standard input is a directory"},
        {"0>" + writeOnly, "standard input is not open for reading"},
    };
    for (const auto& [redirect, why] : inputs) {
        const ToolRun r = cli("--input - --status-interval 0 " + redirect);
        EXPECT_EQ(r.exitCode, 2) << redirect;
        EXPECT_NE(r.err.find("--input -: cannot read: " + why), std::string::npos) << redirect << ": " << r.err;
        EXPECT_EQ(r.out.find("summary"), std::string::npos) << redirect << ": " << r.out;
    }
    // Standard input is only looked at when it is the input.
    const std::string in = kData + "/dvbs2_qpsk12_normal_pilots.iq";
    ToolRun r = cli("--input file:" + in + " --format s8 --status-interval 0 <&-");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("summary: locked"), std::string::npos);

    // The stream to a closed standard output: refused at once, with the log
    // on standard error.
    const std::string err = temp("closed_stdout_err.txt");
    const std::string status = temp("closed_stdout_status.txt");
    std::system(("bash -c '" + std::string(TAVIREL_CLI) + " --input file:" + in +
                 " --format s8 --status-interval 0 --output - >&- 2>" + err + "; echo $? >" + status + "'")
                    .c_str());
    const std::vector<uint8_t> code = readFile(status), text = readFile(err);
    const std::string errText(text.begin(), text.end());
    EXPECT_EQ(std::string(code.begin(), code.end()), "3\n") << errText;
    EXPECT_NE(errText.find("--output -: cannot write: standard output is closed"), std::string::npos) << errText;
    EXPECT_EQ(errText.find("Invalid argument"), std::string::npos) << errText;
    // Standard output opened for reading only.
    std::system(("bash -c '" + std::string(TAVIREL_CLI) + " --input file:" + in +
                 " --format s8 --status-interval 0 --output - 1<" + status + " 2>" + err + "; echo $? >" + status + "'")
                    .c_str());
    const std::vector<uint8_t> code2 = readFile(status), text2 = readFile(err);
    EXPECT_EQ(std::string(code2.begin(), code2.end()), "3\n");
    EXPECT_NE(std::string(text2.begin(), text2.end()).find("standard output is not open for writing"), std::string::npos);
    // With the log on a closed standard output and the stream to a file, the
    // run goes on as usual: the log reaches no descriptor of the program's.
    const std::string ts = temp("closed_stdout.ts");
    std::system(("bash -c '" + std::string(TAVIREL_CLI) + " --input file:" + in +
                 " --format s8 --status-interval 0 --output file:" + ts + " >&- 2>" + err + "; echo $? >" + status + "'")
                    .c_str());
    const std::vector<uint8_t> code3 = readFile(status);
    EXPECT_EQ(std::string(code3.begin(), code3.end()), "0\n");
    const std::vector<uint8_t> stream = readFile(ts);
    EXPECT_GT(stream.size(), 300u * 188);
    EXPECT_EQ(stream.size() % 188, 0u);
}

// A server that accepts and hangs up at once, and one that sends nothing.
TEST(CliRun, TcpServerThatClosesOrStaysSilent)
{
    for (const bool hangUp : {true, false}) {
        const int listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        socklen_t len = sizeof addr;
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
        listen(listener, 1);
        std::atomic<bool> finished{false};
        std::thread server([&] {
            const int c = accept(listener, nullptr, nullptr);
            if (!hangUp)   // silent for as long as the receiver runs
                testsupport::waitUntil([&] { return finished.load(); }, 30000);
            close(c);
        });
        const ToolRun r = cli("--input tcp:127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) +
                          " --status-interval 0 --duration 2");
        finished.store(true);
        server.join();
        close(listener);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("summary: no lock"), std::string::npos) << r.out;
    }
}


// An output or recording that names the input, however spelled or reached,
// is refused before anything is opened: the recording stays as it was.
TEST(CliRun, NoOutputCanDestroyTheInput)
{
    const std::string iq = temp("precious.iq");
    const std::vector<uint8_t> original = readFile(kData + "/dvbs2_qpsk12_normal_pilots.iq");
    std::ofstream(iq, std::ios::binary).write(reinterpret_cast<const char*>(original.data()), long(original.size()));
    const std::string dotted = iq.substr(0, iq.find_last_of('/')) + "/./" + iq.substr(iq.find_last_of('/') + 1);
    for (const std::string& args :
         {"--input file:" + iq + " --format s8 --output file:" + iq,
          "--input file:" + iq + " --format s8 --output file:" + dotted,
          "--input file:" + iq + " --format s8 --record samples:" + iq,
          "--input - --format s8 --output file:" + iq + " < " + iq}) {
        const ToolRun r = cli(args);
        EXPECT_EQ(r.exitCode, 1) << args;
        EXPECT_NE(r.err.find("is the input"), std::string::npos) << r.err;
        EXPECT_EQ(readFile(iq), original) << args;
    }
    const ToolRun twice = cli("--input file:" + iq + " --format s8 --output - --output -");
    EXPECT_EQ(twice.exitCode, 1);
    EXPECT_NE(twice.err.find("--output - is the same target as --output -"), std::string::npos) << twice.err;
}

// A file output that fails and standard output closed by its reader: the
// failure is reported once, counted, and the exit code says so; a closed
// standard output ends the run.
TEST(CliRun, FailedOutputsAreReportedNotPassedAsSuccess)
{
    const std::string in = kData + "/dvbs2_qpsk12_normal_pilots.iq";
    ToolRun r = cli("--input file:" + in + " --format s8 --status-interval 0 --output file:/dev/full");
    EXPECT_EQ(r.exitCode, 3);
    const std::string failed = "writing to '/dev/full' failed";
    ASSERT_NE(r.err.find(failed), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(failed, r.err.find(failed) + 1), std::string::npos) << "reported once";
    EXPECT_NE(r.out.find("output lost "), std::string::npos) << r.out.substr(r.out.size() > 600 ? r.out.size() - 600 : 0);

    r = cli("--input file:" + in + " --format s8 --status-interval 0 --record samples:/dev/full");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("error: the recording '/dev/full' could not be written and has stopped"), std::string::npos)
        << r.err;

    // An endless TCP input piped into a reader that stops after 1000 bytes.
    const int port = 20000 + int((getpid() + 7) % 20000);
    std::thread server([&] {
        run(std::string("timeout 40 ") + TAVIREL_SIGGEN,
            "--modcod \"QPSK 1/2\" --pilots on --duration 600 --serve 127.0.0.1:" + std::to_string(port));
    });
    testsupport::waitUntil([&] { return testsupport::tcpListening(port); }, 15000);
    const std::string status = temp("pipe_status.txt");
    const int rc = std::system(("bash -c 'timeout 30 " + std::string(TAVIREL_CLI) + " --input tcp:127.0.0.1:" +
                                std::to_string(port) + " --status-interval 0 --output - 2>/dev/null | head -c 1000 >/dev/null; echo ${PIPESTATUS[0]} >" +
                                status + "'")
                                   .c_str());
    std::system(("pkill -f 'serve 127.0.0.1:" + std::to_string(port) + "'").c_str());
    server.join();
    EXPECT_EQ(rc, 0);
    const std::vector<uint8_t> code = readFile(status);
    EXPECT_EQ(std::string(code.begin(), code.end()), "3\n") << "124 would mean it never ended";
}

// A TCP server that sends a recording once and hangs up gives what the file
// gives: the last part block goes through too.
TEST(CliRun, TcpStreamThatEndsGivesWhatTheFileGives)
{
    const std::string in = kData + "/dvbs2_qpsk12_normal_pilots.iq";
    const std::string fromFile = temp("end_file.ts"), fromTcp = temp("end_tcp.ts");
    ToolRun r = cli("--input file:" + in + " --format s8 --status-interval 0 --output file:" + fromFile);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    testsupport::SendOnceServer server(readFile(in));
    r = cli("--input tcp:localhost:" + std::to_string(server.port) +
            " --format s8 --status-interval 0 --output file:" + fromTcp);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_GT(readFile(fromFile).size(), 400u * 188);
    EXPECT_EQ(readFile(fromTcp), readFile(fromFile));
}

// A server that sends as fast as it can is held back by TCP flow control:
// the chain never holds more than a few dozen buffers, nothing is dropped.
TEST(CliRun, FastTcpServerIsHeldBack)
{
    const int port = 20000 + int((getpid() + 13) % 20000);
    std::thread server([&] {
        run(std::string("timeout 30 ") + TAVIREL_SIGGEN,
            "--modcod \"QPSK 1/2\" --pilots on --duration 600 --serve 127.0.0.1:" + std::to_string(port));
    });
    testsupport::waitUntil([&] { return testsupport::tcpListening(port); }, 15000);
    const ToolRun r =
        cli("--input tcp:127.0.0.1:" + std::to_string(port) + " --json --status-interval 0.2 --duration 3 --verbose");
    std::system(("pkill -f 'serve 127.0.0.1:" + std::to_string(port) + "'").c_str());
    server.join();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    int reports = 0;
    while (std::getline(lines, line)) {
        const size_t at = line.find("\"pool_in_use\":");
        if (at == std::string::npos)
            continue;
        ++reports;
        EXPECT_LE(std::stoi(line.substr(at + 14)), 80) << line;
        EXPECT_NE(line.find("\"blocks_dropped\":0"), std::string::npos) << line;
    }
    EXPECT_GE(reports, 5);
    EXPECT_NE(r.out.find("\"type\":\"summary\",\"elapsed\""), std::string::npos);
    EXPECT_EQ(r.err.find("No free buffers"), std::string::npos);
}

// A signal that goes (noise alone for its last two and a half seconds): the
// summary says there is no lock and names the MODCOD only as the last one
// decoded; the JSON has no current MODCOD, and the last one apart.
TEST(CliRun, AfterTheSignalGoesTheModcodIsTheLastDecoded)
{
    const std::string iq = temp("gone.iq");
    const ToolRun tx =
        run(TAVIREL_SIGGEN, "--modcod \"QPSK 1/2\" --pilots on --esn0 10 --duration 4 --dropout 1.5:2.5:noise --output " + iq);
    ASSERT_EQ(tx.exitCode, 0) << tx.err;
    const ToolRun r = cli("--input file:" + iq + " --status-interval 0");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const size_t summary = r.out.find("summary: ");
    ASSERT_NE(summary, std::string::npos) << r.out.substr(0, 2000);
    const std::string line = r.out.substr(summary, r.out.find('\n', summary) - summary);
    EXPECT_EQ(line.rfind("summary: no lock", 0), 0u) << line;
    EXPECT_NE(line.find("| last QPSK 1/2 normal pilots |"), std::string::npos) << line;
    const ToolRun json = cli("--input file:" + iq + " --status-interval 0 --json");
    const size_t at = json.out.find("\"type\":\"summary\"");
    ASSERT_NE(at, std::string::npos);
    EXPECT_NE(json.out.find("\"modcod\":null,\"modcod_decoded\":true,\"pls\":null,\"frame\":null,"
                            "\"last_modcod\":\"QPSK 1/2 normal pilots\"",
                            at),
              std::string::npos)
        << json.out.substr(at, 600);
}

// 16APSK and 32APSK decode to their packets, the summary naming the MODCOD.
TEST(CliRun, ApskSignalsDecode)
{
    for (const std::string modcod : {"16APSK 2/3", "32APSK 4/5"}) {
        const std::string iq = temp("apsk.iq");
        const ToolRun tx = run(TAVIREL_SIGGEN, "--modcod \"" + modcod + "\" --pilots on --frames 20 --output " + iq);
        ASSERT_EQ(tx.exitCode, 0) << tx.err;
        const ToolRun r = cli("--input file:" + iq + " --status-interval 0");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::string tail = r.out.substr(r.out.size() > 600 ? r.out.size() - 600 : 0);
        EXPECT_NE(r.out.find("summary: locked"), std::string::npos) << tail;
        EXPECT_NE(r.out.find("| " + modcod + " normal pilots | frames 19 ok"), std::string::npos) << tail;
        EXPECT_NE(r.out.find(" 0 CC errors"), std::string::npos) << tail;
    }
}

namespace {

// The number after `key` in `text`, or NaN when the key is missing or no
// number follows.
double numberAfter(const std::string& text, const std::string& key)
{
    const size_t at = text.rfind(key);
    if (at == std::string::npos)
        return std::nan("");
    char* end = nullptr;
    const char* start = text.c_str() + at + key.size();
    const double v = std::strtod(start, &end);
    return end == start ? std::nan("") : v;
}

} // namespace

// A roll-off other than the default, announced by every BBHEADER: the
// matched filter follows it, and no frame after the first is lost on the
// way, at 1.5 dB as at 7 dB, for normal and short frames.
TEST(CliRun, RollOffAnnouncedByTheStreamCostsNoFrame)
{
    for (const char* signal : {"--modcod \"QPSK 1/2\" --pilots on --esn0 1.5 --rolloff 0.20 --frames 40",
                               "--modcod \"8PSK 3/5\" --frame short --esn0 7 --rolloff 0.25 --frames 40"}) {
        const std::string iq = temp("rolloff.iq");
        const ToolRun tx = run(TAVIREL_SIGGEN, std::string(signal) + " --output " + iq);
        ASSERT_EQ(tx.exitCode, 0) << tx.err;
        const ToolRun r = cli("--input file:" + iq + " --status-interval 0 --verbose");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find("auto rolloff changed to"), std::string::npos) << signal;
        EXPECT_GE(numberAfter(r.out, "| frames "), 39) << signal << "\n" << r.out.substr(r.out.size() > 800 ? r.out.size() - 800 : 0);
    }
}

// MER and Es/N0 of our transmitter's signals at a known Es/N0, in the
// summary and in its JSON; null in JSON and left out of the text where
// nothing could be measured: noise, and DVB-S2 frames too deep in the noise
// for even their headers to be read (8PSK at −6 dB; at 2 dB the headers
// read, the frames fail, and Es/N0 is shown without MER).
TEST(CliRun, ReportsMerAndEsN0)
{
    struct Case {
        std::string transmitter, receiver;
        double esn0, tolerance;
        bool measured;
    };
    const std::vector<Case> cases = {
        {"--modcod \"QPSK 1/2\" --pilots on --esn0 7 --frames 60", "", 7, 0.3, true},
        {"--modcod \"8PSK 2/3\" --frame short --esn0 11 --frames 200", "", 11, 0.3, true},
        {"--modcod \"8PSK 2/3\" --frame short --esn0 -6 --frames 60", "", -6, 0.3, false},
        {"--standard dvbs --esn0 5 --duration 1", "--standard dvbs", 5, 0.5, true},
    };
    for (const Case& c : cases) {
        const std::string iq = temp("quality.iq");
        const ToolRun tx = run(TAVIREL_SIGGEN, c.transmitter + " --output " + iq);
        ASSERT_EQ(tx.exitCode, 0) << tx.err;
        const ToolRun text = cli("--input file:" + iq + " " + c.receiver + " --status-interval 0");
        ASSERT_EQ(text.exitCode, 0) << text.err;
        const ToolRun json = cli("--input file:" + iq + " " + c.receiver + " --status-interval 0 --json");
        ASSERT_EQ(json.exitCode, 0) << json.err;
        if (!c.measured) {
            EXPECT_EQ(text.out.find("MER"), std::string::npos) << text.out;
            EXPECT_EQ(text.out.find("Es/N0"), std::string::npos) << text.out;
            EXPECT_NE(json.out.find("\"mer_db\":null,\"esn0_db\":null"), std::string::npos) << json.out;
            continue;
        }
        EXPECT_NEAR(numberAfter(text.out, "| MER "), c.esn0, c.tolerance) << c.transmitter << "\n" << text.out;
        EXPECT_NEAR(numberAfter(text.out, " dB, Es/N0 "), c.esn0, c.tolerance) << c.transmitter;
        EXPECT_NEAR(numberAfter(json.out, "\"mer_db\":"), c.esn0, c.tolerance) << c.transmitter;
        EXPECT_NEAR(numberAfter(json.out, "\"esn0_db\":"), c.esn0, c.tolerance) << c.transmitter;
    }

    const std::string noise = temp("quality_noise.iq");
    {
        std::mt19937 rng(5);
        std::ofstream f(noise, std::ios::binary);
        for (int i = 0; i < 2000000; ++i)
            f.put(char(rng()));
    }
    for (const std::string standard : {"dvbs2", "dvbs"}) {
        const ToolRun text = cli("--input file:" + noise + " --standard " + standard + " --status-interval 0");
        EXPECT_NE(text.out.find("summary: no lock"), std::string::npos) << standard;
        EXPECT_EQ(text.out.find("MER"), std::string::npos) << standard;
        const ToolRun json = cli("--input file:" + noise + " --standard " + standard + " --status-interval 0 --json");
        EXPECT_NE(json.out.find("\"mer_db\":null,\"esn0_db\":null"), std::string::npos) << standard;
    }
}

// Near the decoding threshold some frames fail: whatever comes out is either
// a packet that was sent or carries the transport error indicator, and the
// marked packets are counted in the JSON.
void expectNoWrongPacketUnmarked(const std::string& transmitter, const std::string& receiver, size_t minimumPackets)
{
    const std::string sentFile = kData + "/dvbs2_qpsk12_normal_pilots.ts";
    const std::string iq = temp("threshold.iq");
    const ToolRun tx = run(TAVIREL_SIGGEN, "--ts " + sentFile + " --loop " + transmitter + " --output " + iq);
    ASSERT_EQ(tx.exitCode, 0) << tx.err;
    const std::string out = temp("threshold.ts");
    const ToolRun json = cli("--input file:" + iq + " " + receiver + " --status-interval 0 --json --output file:" + out);
    ASSERT_EQ(json.exitCode, 0) << json.err;

    const std::vector<uint8_t> sent = testsupport::readFile(sentFile);
    std::set<std::string> sentPackets;
    for (size_t k = 0; k + 188 <= sent.size(); k += 188)
        sentPackets.emplace(reinterpret_cast<const char*>(sent.data() + k + 1), 187);
    const std::vector<uint8_t> ts = testsupport::readFile(out);
    size_t marked = 0;
    for (size_t k = 0; k + 188 <= ts.size(); k += 188) {
        ASSERT_EQ(ts[k], 0x47);
        if (ts[k + 1] & 0x80)
            ++marked;
        else
            EXPECT_TRUE(sentPackets.count(std::string(reinterpret_cast<const char*>(ts.data() + k + 1), 187)))
                << "packet " << k / 188 << " was not sent and is not marked";
    }
    EXPECT_GT(ts.size() / 188, minimumPackets) << "most frames decode";
    EXPECT_GT(marked, 0u) << "some frames fail at this level: " << json.out;
    EXPECT_EQ(double(marked), numberAfter(json.out, "\"ts_damaged\":")) << json.out;
    EXPECT_GE(numberAfter(json.out, "\"packet_crc_errors\":") + numberAfter(json.out, "\"packets_from_failed_frames\":"),
              double(marked))
        << json.out;
}

TEST(CliRun, NoWrongPacketLeavesWithoutItsErrorIndicator)
{
    // The standard LDPC decoder loses frames of QPSK 1/2 at 1.1 dB (the
    // scaled one decodes them all); the scaled one loses some of 8PSK 2/3 at
    // 6.5 dB.
    expectNoWrongPacketUnmarked("--modcod \"QPSK 1/2\" --pilots on --esn0 1.1 --frames 80", "--ldpc-decoder standard",
                                500);
    expectNoWrongPacketUnmarked("--modcod \"8PSK 2/3\" --pilots on --esn0 6.5 --frames 80", "", 500);
}

// The outer BCH decoding in the status: a clean signal leaves no bit for BCH
// to correct; the frames that fail (the first, caught mid-acquisition) are
// beyond its reach too, and counted as its failures.
TEST(CliRun, BchCountsInTheSummary)
{
    const std::string iq = temp("bch.iq");
    const ToolRun tx = run(TAVIREL_SIGGEN, "--modcod \"QPSK 1/2\" --pilots on --frames 40 --output " + iq);
    ASSERT_EQ(tx.exitCode, 0) << tx.err;
    const ToolRun r = cli("--input file:" + iq + " --status-interval 0");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string tail = r.out.substr(r.out.size() > 600 ? r.out.size() - 600 : 0);
    EXPECT_NE(r.out.find(" passes | BCH 0 bits corrected, "), std::string::npos) << tail;
    const ToolRun json = cli("--input file:" + iq + " --status-interval 0 --json");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find(",\"bch_corrected_bits\":0,\"bch_failures\":"), std::string::npos) << json.out;
    EXPECT_GT(numberAfter(json.out, "\"frames_decoded\":"), 35.0);
    EXPECT_EQ(numberAfter(json.out, "\"bch_failures\":"), numberAfter(json.out, "\"frames_failed\":"));
}

// 8PSK at its threshold: the carrier loop's slower integrator on 8PSK data
// symbols keeps every frame after the first; the loop's own (2/2048) spreads
// the constellation and loses frames. (At 6.9 dB, with the weighted
// detector, it loses only one or two: 6.7 dB shows it.)
TEST(CliRun, Psk8NearThresholdDecodesWithTheSlowerIntegrator)
{
    const std::string iq = temp("psk8_threshold.iq");
    const ToolRun tx = run(TAVIREL_SIGGEN, "--modcod \"8PSK 2/3\" --pilots on --esn0 6.7 --frames 150 --output " + iq);
    ASSERT_EQ(tx.exitCode, 0) << tx.err;
    const ToolRun slow = cli("--input file:" + iq + " --status-interval 0 --json");
    ASSERT_EQ(slow.exitCode, 0) << slow.err;
    const ToolRun same = cli("--input file:" + iq + " --carrier-ki-8psk -1 --status-interval 0 --json");
    ASSERT_EQ(same.exitCode, 0) << same.err;
    EXPECT_GE(numberAfter(slow.out, "\"frames_decoded\":"), 148.0) << slow.out;
    EXPECT_LE(numberAfter(slow.out, "\"frames_failed\":"), 1.0) << slow.out;
    EXPECT_GE(numberAfter(same.out, "\"frames_failed\":"), 4.0) << same.out;
}

// Multiple input streams, two and three of them: each ISI asked for comes
// out packet for packet as its stream was sent, the others counted.
TEST(CliRun, EachOfMultipleInputStreamsPassesAlone)
{
    const std::vector<std::string> files = {kData + "/dvbs2_qpsk12_normal_pilots.ts",
                                            kData + "/dvbs2_8psk23_normal_pilots.ts",
                                            kData + "/dvbs2_qpsk34_short_nopilots.ts"};
    for (size_t streams : {2u, 3u}) {
        std::string args = "--modcod \"QPSK 3/4\" --pilots on --esn0 12 --frames " + std::to_string(6 * streams);
        for (size_t k = 0; k < streams; ++k)
            args += " --isi " + std::to_string(10 + k) + " --ts " + files[k];
        const std::string iq = temp("mis.iq");
        const ToolRun tx = run(TAVIREL_SIGGEN, args + " --output " + iq);
        ASSERT_EQ(tx.exitCode, 0) << tx.err;
        for (size_t k = 0; k < streams; ++k) {
            SCOPED_TRACE(std::to_string(streams) + " streams, ISI " + std::to_string(10 + k));
            const std::string out = temp("mis.ts");
            const ToolRun r = cli("--input file:" + iq + " --isi " + std::to_string(10 + k) +
                                  " --status-interval 0 --verbose --output file:" + out);
            ASSERT_EQ(r.exitCode, 0) << r.err;
            std::vector<uint8_t> ts = readFile(out);
            dropLeadingErrorPackets(ts);
            dropTrailingErrorPackets(ts);
            // Six frames of 5.4 kB each, less the first (acquisition) and
            // the last (no header follows it).
            EXPECT_GE(ts.size() / 188, 4u * 5400 / 188);
            EXPECT_EQ(packetsInOrder(ts, readFile(files[k])), ts.size() / 188);
            const std::string tail = r.out.substr(r.out.size() > 600 ? r.out.size() - 600 : 0);
            EXPECT_NE(r.err.find("passing the stream of ISI " + std::to_string(10 + k)), std::string::npos) << tail;
            EXPECT_NE(r.out.find("| ISI " + std::to_string(10 + k) + " of 10 ("), std::string::npos) << tail;
            EXPECT_NE(r.out.find(" 0 CC errors"), std::string::npos) << tail;
        }
    }
}

// What a person sees by default: the start, status lines with the part of
// the file read, the summary; the receiver's log only when asked for, on
// standard error or in a file; --quiet leaves the summary alone.
TEST(CliRun, QuietByDefaultTheLogOnRequest)
{
    const std::string in = kData + "/dvbs2_qpsk12_normal_pilots.iq";
    const std::string common = "--input file:" + in + " --format s8 --output file:" + temp("quiet.ts");
    auto lines = [](const std::string& text) { return size_t(std::count(text.begin(), text.end(), '\n')); };

    ToolRun r = cli(common + " --status-interval 0.05");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("start: file:" + in + " | 2000000 samples/s | DVB-S2 1000000 symbols/s | output file:", 0), 0u)
        << r.out;
    EXPECT_NE(r.out.find("| read "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nsummary: locked"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("samp_rate: "), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
    const ToolRun plain = cli(common + " --status-interval 0 --stage-times");
    EXPECT_EQ(lines(plain.out), 3u) << plain.out;
    EXPECT_NE(plain.out.find(" | BasebandWorker "), std::string::npos) << "class names as written: " << plain.out;

    r = cli(common + " --quiet");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(lines(r.out), 1u) << r.out;
    EXPECT_EQ(r.out.rfind("summary: locked", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");

    const std::string log = temp("receiver.log");
    r = cli(common + " --status-interval 0 --log " + log);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::vector<uint8_t> logged = readFile(log);
    EXPECT_NE(std::string(logged.begin(), logged.end()).find("samp_rate: 2000000"), std::string::npos);
    EXPECT_EQ(r.out.find("samp_rate: "), std::string::npos);
    EXPECT_EQ(r.err, "");

    r = cli(common + " --json --status-interval 0.05");
    EXPECT_EQ(r.out.rfind("{\"type\":\"start\",\"input\":\"file:" + in + "\",\"sample_rate\":2000000", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\"input_read\":1.0,\"seconds_left\":0.0}"), std::string::npos) << r.out;

    for (const std::string& bad : std::vector<std::string>{" --verbose --log " + log, " --verbose --quiet", " --log " + in}) {
        r = cli(common + bad);
        EXPECT_EQ(r.exitCode, 1) << bad;
        EXPECT_NE(r.err.find("error: --"), std::string::npos) << bad << ": " << r.err;
    }
}

// --status-udp: the start, each status and the summary as JSON datagrams,
// whatever the terminal shows (here nothing but the summary).
TEST(CliRun, StatusReportsGoToAUdpPort)
{
    int udpPort = 0;
    const int receiver = testsupport::loopbackSocket(SOCK_DGRAM, udpPort);
    ASSERT_GE(receiver, 0);
    const std::string port = std::to_string(udpPort);
    testsupport::DatagramCollector collector(receiver);

    const ToolRun r = cli("--input file:" + kData + "/dvbs2_qpsk12_normal_pilots.iq --format s8 --quiet" +
                          " --status-interval 0.05 --status-udp 127.0.0.1:" + port);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("summary: locked", 0), 0u) << r.out;
    const std::vector<std::string> datagrams = collector.stop();
    ::close(receiver);
    ASSERT_GE(datagrams.size(), 3u);
    EXPECT_EQ(datagrams.front().rfind("{\"type\":\"start\",\"input\":\"file:", 0), 0u) << datagrams.front();
    EXPECT_EQ(datagrams.back().rfind("{\"type\":\"summary\",", 0), 0u) << datagrams.back();
    EXPECT_NE(datagrams.back().find("\"locked\":true"), std::string::npos) << datagrams.back();
    for (size_t k = 1; k + 1 < datagrams.size(); ++k)
        EXPECT_EQ(datagrams[k].rfind("{\"type\":\"status\",", 0), 0u) << datagrams[k];
    for (const std::string& d : datagrams)
        EXPECT_EQ(d.back(), '}') << "one whole object per datagram: " << d;

    const ToolRun wrong = cli("--input file:x.iq --status-udp 127.0.0.1");
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("--status-udp"), std::string::npos) << wrong.err;
}

// A SigMF recording from the test transmitter: its metadata gives format and
// rate; options that differ win and are said; unusable metadata is an
// input error naming the file.
TEST(CliRun, SigmfRecordingsAreReadWithTheirMetadata)
{
    const std::string base = temp("sigmf");
    const ToolRun tx = run(TAVIREL_SIGGEN, "--modcod \"QPSK 1/2\" --pilots on --frames 12 --format s8 "
                                           "--sample-rate 2400000 --sigmf --output " + base);
    ASSERT_EQ(tx.exitCode, 0) << tx.err;
    ToolRun r = cli("--input file:" + base + ".sigmf-meta --status-interval 0");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("start: file:" + base + ".sigmf-data | 2400000 samples/s", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("summary: locked"), std::string::npos) << r.out;
    EXPECT_GE(numberAfter(r.out, "| frames "), 11) << r.out;
    EXPECT_EQ(r.err, "");

    r = cli("--input file:" + base + ".sigmf-data --status-interval 0 --format s16");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("--format s16 differs from the recording's ci8 (core:datatype); --format is used"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("summary: no lock"), std::string::npos) << "read as s16, the samples are noise: " << r.out;

    // Recorded as SigMF while decoding, and read back from the recording.
    const std::string again = temp("again");
    r = cli("--input file:" + base + ".sigmf-meta --status-interval 0 --record samples:" + again + ".sigmf-meta");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<uint8_t> meta = readFile(again + ".sigmf-meta");
    const std::string metaText(meta.begin(), meta.end());
    EXPECT_NE(metaText.find("\"core:datatype\": \"ci16_le\""), std::string::npos) << metaText;
    EXPECT_NE(metaText.find("\"core:sample_rate\": 2400000.0"), std::string::npos) << metaText;
    EXPECT_NE(metaText.find("\"core:label\": \"QPSK 1/2 normal pilots\""), std::string::npos) << metaText;
    EXPECT_EQ(readFile(again + ".sigmf-data").size(), readFile(base + ".sigmf-data").size() * 2) << "s8 read, s16 kept";
    r = cli("--input file:" + again + ".sigmf-data --status-interval 0");
    EXPECT_GE(numberAfter(r.out, "| frames "), 11) << r.out;

    std::ofstream(base + ".sigmf-meta") << "{\"global\": {\"core:datatype\": \"ci8\", \"core:sample_rate\": -1}}";
    r = cli("--input file:" + base + ".sigmf-meta");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("'" + base + ".sigmf-meta': global core:sample_rate -1 is not a rate above zero"),
              std::string::npos)
        << r.err;
}

// Frames of two MODCODs taking turns, recorded as SigMF at a rate that is
// no whole number of samples per symbol: each change is annotated at the
// recorded sample where its frame begins (the transmitter's first frame at
// sample 0), within a couple of symbols, however long after it the frame was
// decoded.
TEST(CliRun, SigmfAnnotationsMarkWhereEachFrameBegins)
{
    const std::string base = temp("turns");
    const ToolRun tx = run(TAVIREL_SIGGEN, "--modcod \"QPSK 1/2,8PSK 2/3\" --pilots on --frames 10 "
                                           "--sample-rate 2400000 --output " + base + ".iq");
    ASSERT_EQ(tx.exitCode, 0) << tx.err;
    const ToolRun r = cli("--input file:" + base + ".iq --sample-rate 2400000 --status-interval 0 "
                          "--record samples:" + base + "-rec.sigmf-data");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    SigmfDescription meta;
    std::string error;
    ASSERT_TRUE(readSigmfMeta(base + "-rec.sigmf-meta", meta, error)) << error;
    ASSERT_GE(meta.annotations.size(), 8u) << r.out;
    // With pilots: QPSK 90 + 360 slots of 90 + 22 pilot blocks of 36
    // symbols; 8PSK 90 + 240 × 90 + 14 × 36.
    const double samplesPerSymbol = 2.4;
    const double lengths[2] = {33282 * samplesPerSymbol, 22194 * samplesPerSymbol};
    double frameStart = 0;
    std::vector<double> starts;
    for (int k = 0; k < 10; ++k) {
        starts.push_back(frameStart);
        frameStart += lengths[k % 2];
    }
    for (const SigmfDescription::Annotation& a : meta.annotations) {
        const bool qpsk = a.label.rfind("QPSK 1/2", 0) == 0;
        ASSERT_TRUE(qpsk || a.label.rfind("8PSK 2/3", 0) == 0) << a.label;
        double nearest = 1e12;
        size_t frame = 0;
        for (size_t k = qpsk ? 0 : 1; k < starts.size(); k += 2)
            if (std::fabs(double(a.sampleStart) - starts[k]) < nearest) {
                nearest = std::fabs(double(a.sampleStart) - starts[k]);
                frame = k;
            }
        EXPECT_LE(nearest, 2 * samplesPerSymbol) << a.label << " at " << a.sampleStart << ", frame " << frame;
    }
}

// The demo's programme (a test pattern with a tone, made with ffmpeg)
// through the transmitter and tavirel-cli to a UDP socket and a TCP client:
// ffprobe finds the programme, its video and audio and its service name in
// what each received, without a continuity error.
TEST(CliRun, DemoProgrammeReachesPlayersOverUdpAndTcp)
{
    const std::string scripts = kData + "/../../scripts";
    ASSERT_EQ(std::system("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null"), 0)
        << "ffmpeg and ffprobe are needed (scripts/setup.sh installs them)";
    const std::string programme = temp("programme.ts"), iq = temp("programme.iq");
    ASSERT_EQ(std::system((scripts + "/make_demo_ts.sh " + programme + " 965327 6").c_str()), 0);
    const ToolRun tx = run(TAVIREL_SIGGEN, "--modcod \"QPSK 1/2\" --pilots on --esn0 10 --ts " + programme +
                                               " --duration 7 --output " + iq);
    ASSERT_EQ(tx.exitCode, 0) << tx.err;

    int udpPort = 0, tcpPort = 0;
    const int udp = testsupport::loopbackSocket(SOCK_DGRAM, udpPort);
    ASSERT_GE(udp, 0);
    const int buffer = 8 << 20;
    ::setsockopt(udp, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    testsupport::DatagramCollector collector(udp);
    // A free port for the receiver's TCP server.
    const int probe = testsupport::loopbackSocket(SOCK_STREAM, tcpPort);
    ASSERT_GE(probe, 0);
    ::close(probe);

    // The client connects while the receiver waits a second for its input.
    std::vector<uint8_t> overTcp;
    std::thread client([&] {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in server {};
        server.sin_family = AF_INET;
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        server.sin_port = htons(uint16_t(tcpPort));
        for (int tries = 0; tries < 200; ++tries) {
            if (::connect(s, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        char chunk[65536];
        for (ssize_t n; (n = ::recv(s, chunk, sizeof chunk, 0)) > 0;)
            overTcp.insert(overTcp.end(), chunk, chunk + n);
        ::close(s);
    });
    const ToolRun r = run("bash -c 'sleep 1; cat " + iq + "' | " + std::string(TAVIREL_CLI),
                          "--input - --status-interval 0 --output udp:127.0.0.1:" + std::to_string(udpPort) +
                              " --output tcp-listen:127.0.0.1:" + std::to_string(tcpPort));
    client.join();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<uint8_t> overUdp;
    for (const std::string& datagram : collector.stop())
        overUdp.insert(overUdp.end(), datagram.begin(), datagram.end());
    ::close(udp);

    for (const auto& received : {std::make_pair("udp", &overUdp), std::make_pair("tcp", &overTcp)}) {
        SCOPED_TRACE(received.first);
        EXPECT_GT(received.second->size() / 188, 3000u) << "about 6 s at 965 kbit/s";
        const std::string file = temp(std::string("received_") + received.first + ".ts");
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(received.second->data()), std::streamsize(received.second->size()));
        const ToolRun probe = run("ffprobe", "-v debug -show_programs -of compact " + file);
        EXPECT_NE(probe.out.find("tag:service_name=TAVIREL DEMO"), std::string::npos) << probe.out;
        EXPECT_NE(probe.out.find("codec_name=mpeg2video"), std::string::npos) << probe.out;
        EXPECT_NE(probe.out.find("codec_name=mp2"), std::string::npos) << probe.out;
        EXPECT_EQ(probe.err.find("Continuity check failed"), std::string::npos)
            << probe.err.substr(probe.err.find("Continuity check failed"), 300);
    }
}
