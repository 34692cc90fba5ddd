// tavirel-cli against what a dish, a radio and a network do to a signal:
// outages of noise and of silence, input at full scale and at a single LSB,
// a feed that stalls, a mirrored spectrum; and recordings that must hold
// exactly the samples received.
#include "tests/LoopbackServer.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::readFile;
using testsupport::ToolRun;

std::string temp(const std::string& name)
{
    return testsupport::tempPath("reception_" + name);
}

ToolRun siggen(const std::string& arguments)
{
    return testsupport::runTool(TAVIREL_SIGGEN, arguments);
}

ToolRun cli(const std::string& arguments)
{
    return testsupport::runTool(TAVIREL_CLI, arguments);
}

// The number after `key` in `text` (the last occurrence), NaN when absent.
double numberAfter(const std::string& text, const std::string& key)
{
    const size_t at = text.rfind(key);
    if (at == std::string::npos)
        return std::nan("");
    return std::strtod(text.c_str() + at + key.size(), nullptr);
}

// The summary object of a --json run.
std::string summaryOf(const std::string& out)
{
    const size_t at = out.find("{\"type\":\"summary\"");
    return at == std::string::npos ? std::string() : out.substr(at, out.find('\n', at) - at);
}

// QPSK 1/2 normal frames with pilots at 1 Msym/s, 2 Msps: 30.05 frames a second.
constexpr double kFramesPerSecond = 1e6 / 33282.0;
const std::string kSignal = "--modcod \"QPSK 1/2\" --pilots on --esn0 10";

// Per-component RMS of s16 samples.
double rmsOf(const std::vector<uint8_t>& bytes)
{
    double sum = 0;
    const size_t n = bytes.size() / 2;
    for (size_t k = 0; k < n; ++k) {
        const double v = int16_t(uint16_t(bytes[2 * k] | bytes[2 * k + 1] << 8));
        sum += v * v;
    }
    return std::sqrt(sum / double(n));
}

enum class Outage { Noise, Zeros };

// Signal (`before`), then `seconds` of noise at the signal's power or of
// zeros, then signal again (`after`), piped into tavirel-cli; returns the
// frames decoded after the signal came back.
double framesAfterOutage(const std::vector<uint8_t>& before, double framesBefore, const std::vector<uint8_t>& after,
                         double seconds, Outage kind)
{
    const std::string summaryFile = temp("outage_summary.txt");
    FILE* pipe = popen((std::string(TAVIREL_CLI) + " --input - --status-interval 0 --json >" + summaryFile + " 2>/dev/null").c_str(), "w");
    if (pipe == nullptr)
        return -1;
    std::fwrite(before.data(), 1, before.size(), pipe);
    const double rms = rmsOf(before);
    std::mt19937 rng(17);
    std::normal_distribution<double> noise(0, rms);
    std::vector<int16_t> chunk(2 * 65536, 0);
    const uint64_t samples = uint64_t(seconds * 2e6);
    for (uint64_t done = 0; done < samples;) {
        const size_t n = size_t(std::min<uint64_t>(65536, samples - done));
        if (kind == Outage::Noise)
            for (size_t k = 0; k < 2 * n; ++k)
                chunk[k] = int16_t(std::clamp(std::lround(noise(rng)), -32768l, 32767l));
        std::fwrite(chunk.data(), 4, n, pipe);
        done += n;
    }
    std::fwrite(after.data(), 1, after.size(), pipe);
    pclose(pipe);
    const std::vector<uint8_t> out = readFile(summaryFile);
    const std::string summary = summaryOf(std::string(out.begin(), out.end()));
    return numberAfter(summary, "\"frames_decoded\":") - framesBefore;
}

struct OutageCase {
    double seconds;
    Outage kind;
};

class OutageTest : public testing::TestWithParam<OutageCase> {};

void PrintTo(const OutageCase& c, std::ostream* os)
{
    *os << c.seconds << " s of " << (c.kind == Outage::Noise ? "noise" : "zeros");
}

// After an outage of any length the receiver finds the signal again within a
// second of its return: the timing loop cannot wander off during the noise.
TEST_P(OutageTest, ReceptionReturnsWithinASecond)
{
    const std::string a = temp("outage_a.s16"), b = temp("outage_b.s16");
    ASSERT_EQ(siggen(kSignal + " --duration 2 --output " + a).exitCode, 0);
    ASSERT_EQ(siggen(kSignal + " --duration 3 --seed 7 --output " + b).exitCode, 0);
    const std::vector<uint8_t> before = readFile(a), after = readFile(b);
    const ToolRun alone = cli("--input file:" + a + " --status-interval 0 --json");
    const double framesBefore = numberAfter(summaryOf(alone.out), "\"frames_decoded\":");
    ASSERT_GE(framesBefore, 2 * kFramesPerSecond - 3);

    const double returned = framesAfterOutage(before, framesBefore, after, GetParam().seconds, GetParam().kind);
    // 3 s of signal after the outage: all but the first second's frames.
    EXPECT_GE(returned, 2 * kFramesPerSecond - 2) << "relocked after about "
                                                  << (3 * kFramesPerSecond - returned) / kFramesPerSecond << " s";
}

INSTANTIATE_TEST_SUITE_P(CliReception, OutageTest,
                         testing::Values(OutageCase{10, Outage::Noise}, OutageCase{10, Outage::Zeros}));
// The whole grid: ctest -L long.
INSTANTIATE_TEST_SUITE_P(CliReceptionLong, OutageTest,
                         testing::Values(OutageCase{1, Outage::Noise}, OutageCase{30, Outage::Noise},
                                         OutageCase{120, Outage::Noise}, OutageCase{1, Outage::Zeros},
                                         OutageCase{30, Outage::Zeros}, OutageCase{120, Outage::Zeros}));

// A signal at full scale (and beyond it, in floats) decodes: the front end
// saturates instead of wrapping, and the user is told the input clips.
TEST(CliReception, FullScaleInputDecodesAndIsReportedAsClipping)
{
    struct Case {
        std::string transmitter, receiver;
        bool dvbs;
    };
    const std::vector<Case> cases = {
        {"--pilots on --esn0 12 --level 1.0 --duration 2", "", false},
        {"--pilots on --esn0 12 --level 1.0 --format f32 --duration 2", "--format f32", false},
        {"--pilots on --esn0 12 --level 0.7 --offset 200000 --duration 2", "--offset 200000", false},
        {"--standard dvbs --esn0 12 --level 1.0 --duration 2", "--standard dvbs", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.transmitter);
        const std::string iq = temp("fullscale.iq");
        ASSERT_EQ(siggen(c.transmitter + " --output " + iq).exitCode, 0);
        const ToolRun r = cli("--input file:" + iq + " " + c.receiver + " --status-interval 0 --json");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::string summary = summaryOf(r.out);
        if (c.dvbs) {
            // Only the packets of the deinterleaver filling as the lock is taken are damaged.
            EXPECT_GT(numberAfter(summary, "\"ts_packets\":"), 1000) << summary;
            EXPECT_LE(numberAfter(summary, "\"ts_damaged\":"), 12) << summary;
        } else {
            EXPECT_GE(numberAfter(summary, "\"frames_decoded\":"), 2 * kFramesPerSecond - 2) << summary;
            EXPECT_LE(numberAfter(summary, "\"frames_failed\":"), 1) << summary;
            EXPECT_EQ(numberAfter(summary, "\"ts_damaged\":"), 0) << summary;
        }
        EXPECT_GT(numberAfter(summary, "\"clipped_samples\":"), 0) << summary;
        EXPECT_NE(r.err.find("warning: the input is clipping"), std::string::npos) << r.err;
    }
    // A signal well inside the range: no warning.
    const std::string iq = temp("fullscale_quiet.iq");
    ASSERT_EQ(siggen("--pilots on --esn0 12 --level 0.1 --frames 10 --output " + iq).exitCode, 0);
    const ToolRun quiet = cli("--input file:" + iq + " --status-interval 0 --json");
    EXPECT_EQ(numberAfter(summaryOf(quiet.out), "\"clipped_samples\":"), 0);
    EXPECT_EQ(quiet.err.find("clipping"), std::string::npos) << quiet.err;
}

// A weak s16 signal, down to a single LSB RMS, is found within half a second.
TEST(CliReception, WeakInputIsAcquiredWithinHalfASecond)
{
    for (double lsb : {1.0, 2.0, 4.0}) {
        SCOPED_TRACE(lsb);
        const std::string iq = temp("weak.s16");
        ASSERT_EQ(siggen("--modcod \"QPSK 1/2\" --pilots on --duration 2 --level " + std::to_string(lsb / 32767) +
                         " --output " + iq)
                      .exitCode,
                  0);
        const ToolRun r = cli("--input file:" + iq + " --status-interval 0 --json");
        const std::string summary = summaryOf(r.out);
        EXPECT_GE(numberAfter(summary, "\"frames_decoded\":"), 1.5 * kFramesPerSecond - 2) << summary;
    }
}

// The samples recording holds exactly what was read: at the end of a file
// (not padded to a whole block) and when the run is interrupted.
TEST(CliReception, SamplesRecordingIsAnExactCopy)
{
    const std::string input = std::string(TAVIREL_TEST_DATA) + "/dvbs2_8psk23_normal_pilots.iq";
    const std::string rec = temp("copy.s16");
    const ToolRun r = cli("--input file:" + input + " --sample-rate 2400000 --status-interval 0 --record samples:" + rec);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<uint8_t> sent = readFile(input), recorded = readFile(rec);
    EXPECT_EQ(recorded.size(), sent.size() / 4 * 4);
    EXPECT_TRUE(recorded == std::vector<uint8_t>(sent.begin(), sent.begin() + long(sent.size() / 4 * 4)));

    // Interrupted mid-file: a prefix of the input, whatever the block.
    const std::string big = temp("copy_big.s16");
    ASSERT_EQ(siggen(kSignal + " --duration 8 --output " + big).exitCode, 0);
    const std::vector<uint8_t> whole = readFile(big);
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        std::remove(rec.c_str());
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            execl(TAVIREL_CLI, TAVIREL_CLI, "--input", ("file:" + big).c_str(), "--status-interval", "0", "--record",
                  ("samples:" + rec).c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Once some of it is recorded, before the end (the size from the
        // directory: reading the file at every poll would take longer than
        // the run).
        testsupport::waitUntil(
            [&] {
                std::error_code ec;
                const auto size = std::filesystem::file_size(rec, ec);
                return !ec && size > (1u << 20);
            },
            20000);
        kill(child, sig);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        const std::vector<uint8_t> part = readFile(rec);
        ASSERT_GT(part.size(), 1u << 20);
        ASSERT_LT(part.size(), whole.size()) << "interrupted before the end";
        EXPECT_EQ(part.size() % 4, 0u);
        EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin())) << "a prefix of the input, nothing added";
    }
}

// The lines tavirel-cli prints on standard output while it runs against a
// server that sends a signal and then falls silent: once a line says the
// input stopped, the server hangs up (so the silence lasts as long as it
// must, however slowly the receiver works through what was sent).
std::vector<std::string> linesAcrossAStall(const std::string& iq, const std::string& options)
{
    testsupport::SendOnceServer server(readFile(iq), 120000);
    FILE* out = popen((std::string(TAVIREL_CLI) + " --input tcp:127.0.0.1:" + std::to_string(server.port) +
                       " --status-interval 0.25 " + options + " 2>/dev/null")
                          .c_str(),
                      "r");
    std::vector<std::string> lines;
    if (out == nullptr)
        return lines;
    char buffer[65536];
    while (std::fgets(buffer, sizeof buffer, out) != nullptr) {
        lines.emplace_back(buffer);
        if (lines.back().find("no input for ") != std::string::npos)
            server.hangUp();
    }
    server.hangUp();
    pclose(out);
    return lines;
}

// While a feed stalls, the status does not go on saying "locked" with the
// last MER: it says the input has stopped.
TEST(CliReception, StalledInputIsReportedNotLocked)
{
    const std::string iq = temp("stall.s16");
    ASSERT_EQ(siggen(kSignal + " --duration 2 --output " + iq).exitCode, 0);
    bool lockedBefore = false, stallSeen = false;
    for (const std::string& line : linesAcrossAStall(iq, "--json")) {
        if (line.rfind("{\"type\":\"status\"", 0) != 0)
            continue;
        if (line.find("\"locked\":true") != std::string::npos) {
            lockedBefore = true;
            EXPECT_EQ(line.find("no input"), std::string::npos) << line;
        }
        if (line.find("\"reception\":\"no input for ") != std::string::npos) {
            stallSeen = true;
            EXPECT_NE(line.find("\"locked\":false"), std::string::npos) << line;
            EXPECT_NE(line.find("\"mer_db\":null"), std::string::npos) << line;
        }
    }
    EXPECT_TRUE(lockedBefore);
    EXPECT_TRUE(stallSeen);
    // The text status says it in words.
    bool said = false;
    for (const std::string& line : linesAcrossAStall(iq, ""))
        said = said || (line.rfind("status: no lock", 0) == 0 && line.find(", no input for ") != std::string::npos);
    EXPECT_TRUE(said);
}

// The s16 recording `from` with I and Q swapped, as `to`: the spectrum's
// mirror image.
void writeMirrored(const std::string& from, const std::string& to)
{
    std::vector<uint8_t> bytes = readFile(from);
    for (size_t k = 0; k + 4 <= bytes.size(); k += 4) {
        std::swap(bytes[k], bytes[k + 2]);
        std::swap(bytes[k + 1], bytes[k + 3]);
    }
    FILE* f = std::fopen(to.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// A mirrored spectrum (I and Q swapped) is found by itself; fixing the sense
// by hand to the wrong one decodes nothing, and the old names still work.
TEST(CliReception, MirroredSpectrumIsDetected)
{
    const std::string iq = temp("mirror.s16"), mirrored = temp("mirrored.s16");
    ASSERT_EQ(siggen(kSignal + " --offset 30000 --duration 2 --output " + iq).exitCode, 0);
    writeMirrored(iq, mirrored);
    auto decoded = [](const std::string& file, const std::string& options) {
        return numberAfter(summaryOf(cli("--input file:" + file + " --status-interval 0 --json " + options).out),
                           "\"frames_decoded\":");
    };
    // The mirror moves the carrier to the other side: −30 kHz. Finding the
    // sense takes a few frames (chains of strong SOFs a frame apart): 54–56
    // of the 60 decode, by thread timing, and 53 now and then.
    EXPECT_GE(decoded(mirrored, "--offset -30000"), 2 * kFramesPerSecond - 8);
    EXPECT_GE(decoded(mirrored, "--offset -30000 --spectrum mirrored"), 2 * kFramesPerSecond - 2);
    EXPECT_GE(decoded(mirrored, "--offset -30000 --spectrum normal"), 2 * kFramesPerSecond - 2) << "the old name";
    EXPECT_EQ(decoded(mirrored, "--offset -30000 --spectrum standard"), 0);
    EXPECT_GE(decoded(iq, "--offset 30000"), 2 * kFramesPerSecond - 2);
    EXPECT_GE(decoded(iq, "--offset 30000 --spectrum inverted"), 2 * kFramesPerSecond - 2) << "the old name";
    EXPECT_EQ(decoded(iq, "--offset 30000 --spectrum mirrored"), 0);

    // DVB-S: the alignment search turns the sense over once no turn finds sync.
    for (const std::string rate : {"1/2", "7/8"}) {
        SCOPED_TRACE(rate);
        const std::string dvbs = temp("mirror_dvbs.s16"), dvbsMirrored = temp("mirrored_dvbs.s16");
        ASSERT_EQ(siggen("--standard dvbs --code-rate " + rate + " --esn0 10 --duration 2 --output " + dvbs).exitCode, 0);
        writeMirrored(dvbs, dvbsMirrored);
        const std::string options = "--standard dvbs --code-rate " + rate + " --status-interval 0 --json";
        const std::string found = summaryOf(cli("--input file:" + dvbsMirrored + " " + options).out);
        const std::string direct = summaryOf(cli("--input file:" + dvbs + " " + options).out);
        EXPECT_GT(numberAfter(found, "\"ts_packets\":"), 0.8 * numberAfter(direct, "\"ts_packets\":")) << found;
        EXPECT_LE(numberAfter(found, "\"ts_damaged\":"), 20) << found;
        const std::string held = summaryOf(cli("--input file:" + dvbsMirrored + " " + options + " --spectrum standard").out);
        EXPECT_EQ(numberAfter(held, "\"ts_packets\":"), 0) << held;
    }
}

} // namespace
