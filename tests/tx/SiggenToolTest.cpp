// tavirel-siggen as a user runs it: outputs, exit codes and messages.
#include "TxTestData.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <complex>

#include <arpa/inet.h>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>


namespace {

using testsupport::ToolRun;

std::string temp(const std::string& name)
{
    return testsupport::tempPath(name);
}

// Runs the tool with `arguments` (shell words), capturing stdout and stderr.
ToolRun siggen(const std::string& arguments)
{
    return testsupport::runTool(TAVIREL_SIGGEN, arguments);
}

size_t fileSize(const std::string& path)
{
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    return f ? size_t(f.tellg()) : 0;
}

TEST(SiggenTool, HelpListsEveryOptionWithItsDefault)
{
    const ToolRun r = siggen("--help");
    EXPECT_EQ(r.exitCode, 0);
    for (const char* option : {"--standard", "--modcod", "--frame", "--pilots", "--rolloff", "--code-rate", "--gse",
                               "--ts", "--service", "--provider", "--symbol-rate", "--sample-rate", "--offset",
                               "--phase", "--esn0", "--level", "--format", "--seed", "--output", "--serve",
                               "--realtime", "--duration", "--frames", "--symbols-out", "--bbframes-out", "--drift",
                               "--phase-noise", "--dropout", "--sample-clock-ppm", "--total-level"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    EXPECT_NE(r.out.find("(default: dvbs2)"), std::string::npos);
    EXPECT_NE(r.out.find("(default: s16)"), std::string::npos);
    EXPECT_NE(r.out.find("SYNCD 0"), std::string::npos) << "the open choices are documented";
}

// The fixture's TS through the tool gives the agreement vectors' symbols and
// BBFRAMEs, and as many samples as the frames last.
TEST(SiggenTool, WritesSamplesSymbolsAndBbframes)
{
    const std::string iq = temp("siggen.iq"), sym = temp("siggen.sym"), bb = temp("siggen.bb");
    const ToolRun r = siggen("--modcod 'QPSK 3/4' --frame short --rolloff 0.20 --ts " + txDataPath("agreement.ts")
                         + " --sample-rate 2500000 --format f32 --frames 6 --output " + iq + " --symbols-out " + sym
                         + " --bbframes-out " + bb);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Wrote 122850 samples"), std::string::npos) << r.out; // 6 · 8190 · 2.5
    EXPECT_EQ(fileSize(iq), 122850u * 8);
    const std::vector<uint8_t> expectedSymbols = readTxData("s2_qpsk34_short_nopilots_plsymbols.cf32");
    std::ifstream s(sym, std::ios::binary);
    std::vector<uint8_t> symbols((std::istreambuf_iterator<char>(s)), std::istreambuf_iterator<char>());
    ASSERT_EQ(symbols.size(), expectedSymbols.size());
    std::vector<float> a(symbols.size() / 4), b(symbols.size() / 4);
    std::memcpy(a.data(), symbols.data(), symbols.size());
    std::memcpy(b.data(), expectedSymbols.data(), symbols.size());
    for (size_t i = 0; i < a.size(); ++i)
        ASSERT_NEAR(a[i], b[i], 1e-6f) << "value " << i;
    std::ifstream f(bb, std::ios::binary);
    std::vector<uint8_t> frames((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(frames, readTxData("s2_qpsk34_short_nopilots_bbframes.bin"));
}

TEST(SiggenTool, StdoutCarriesOnlySamples)
{
    const ToolRun r = siggen("--standard dvbs --code-rate 7/8 --format u8 --frames 10 --output -");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // 10 packets of 204 bytes: 16320 bits = 2331 puncturing periods of 7 bits (8 coded
    // bits each) and 3 bits more (4 coded bits): 18652 bits, 9326 symbols, 2 samples each.
    EXPECT_EQ(r.out.size(), 18652u * 2);
    EXPECT_NE(r.err.find("Wrote 18652 samples"), std::string::npos) << r.err;
}

TEST(SiggenTool, ImpossibleParametersAreRefusedWithTheirReason)
{
    struct Case {
        std::string arguments;
        const char* message;
        int code;
    };
    const std::string ts = temp("bad.ts");
    {
        std::ofstream f(ts, std::ios::binary);
        f << std::string(188 * 2 + 7, '\x47');
    }
    const std::string noSync = temp("nosync.ts");
    {
        std::ofstream f(noSync, std::ios::binary);
        f << std::string(188 * 2, '\x00');
    }
    const Case cases[] = {
        {"--sample-rate 1200000 --output /dev/null", "below the occupied bandwidth", 1},
        {"--modcod 'DUMMY FRAME' --output /dev/null", "dummy frame", 1},
        {"--modcod '4,0' --output /dev/null", "MODCOD 0 is the dummy frame", 1},
        {"--modcod 29 --output /dev/null", "MODCOD 29 is reserved", 1},
        {"--modcod 'RESERVED (30)' --output /dev/null", "reserved", 1},
        {"--modcod 'QPSK 9/10' --frame short --output /dev/null", "short", 1},
        {"--modcod 'QPSK 1/7' --output /dev/null", "no MODCOD is named", 1},
        {"--ts " + ts + " --output /dev/null", "not a multiple of 188", 1},
        {"--ts " + noSync + " --output /dev/null", "no sync byte", 1},
        {"--format s12 --output /dev/null", "--format", 1},
        {"--rolloff 0.3 --output /dev/null", "--rolloff", 1},
        {"--standard dvbs --rolloff 0.20 --output /dev/null", "0.35", 1},
        {"--frames 0 --output /dev/null", "--frames", 1},
        {"--modcod 'QPSK 1/2'", "--output", 1},
        {"--output /nonexistent/dir/x.iq --frames 1", "cannot write", 2},
        {"--serve 127.0.0.1 --frames 1", "HOST:PORT", 1},
        {"--dropout 1 --output /dev/null", "START:SECONDS", 1},
        {"--dropout 1:0 --output /dev/null", "START:SECONDS", 1},
        {"--dropout -1:2 --output /dev/null", "START:SECONDS", 1},
        {"--dropout 1:2:hiss --output /dev/null", "START:SECONDS", 1},
        {"--phase-noise -1 --output /dev/null", "--phase-noise", 1},
        {"--drift fast --output /dev/null", "--drift", 1},
        {"--sample-clock-ppm 1e6 --output /dev/null", "--sample-clock-ppm", 1},
        {"--level 0.1 --total-level 0.2 --output /dev/null", "not both", 1},
        {"--total-level 1.5 --output /dev/null", "--total-level", 1},
        {"--band --output /dev/null", "needs --duration", 1},
        {"--carrier 'symbol-rate=1e5' --duration 1 --output /dev/null", "give --band", 1},
        {"--band --duration 1 --frames 3 --output /dev/null", "not --frames", 1},
        {"--band --duration 1 --carrier 'rate=1e5' --output /dev/null", "is not KEY=VALUE with a key of", 1},
        {"--band --duration 1 --carrier 'symbol-rate=1e5;output=x' --output /dev/null", "is not KEY=VALUE", 1},
        {"--band --duration 1 --carrier 'symbol-rate=1e5;modcod=QPSK 1/7' --output /dev/null",
         "no MODCOD is named", 1},
        {"--band --duration 1 --carrier 'symbol-rate=5e5;offset=900000' --output /dev/null",
         "outside the sampled band", 1},
    };
    for (const Case& c : cases) {
        const ToolRun r = siggen(c.arguments);
        EXPECT_EQ(r.exitCode, c.code) << c.arguments << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.arguments << "\n" << r.err;
        EXPECT_NE(r.err.find("error:"), std::string::npos) << c.arguments;
    }
}

// A narrow carrier in a wide band: at 73 samples per symbol the noise is
// 17 dB above the signal, so the signal's default level clips (said), while
// --total-level keeps signal and noise together where asked.
TEST(SiggenTool, TotalLevelKeepsSignalAndNoiseBelowFullScale)
{
    const std::string narrow = "--frame short --symbol-rate 33000 --sample-rate 2400000 --esn0 1.5 --frames 1 ";
    const std::string clipping = temp("clipping.iq"), clear = temp("clear.iq");
    ToolRun r = siggen(narrow + "--output " + clipping);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("will clip"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("components clipped at full scale"), std::string::npos) << r.err;

    r = siggen(narrow + "--total-level 0.25 --output " + clear);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
    std::ifstream f(clear, std::ios::binary);
    std::vector<int16_t> iq(fileSize(clear) / 2);
    f.read(reinterpret_cast<char*>(iq.data()), std::streamsize(iq.size() * 2));
    ASSERT_GT(iq.size(), 100000u);
    double power = 0;
    for (const int16_t v : iq)
        power += double(v) * v;
    const double rms = std::sqrt(power / double(iq.size() / 2)) / 32767.0;   // complex RMS
    EXPECT_NEAR(rms, 0.25, 0.01);
}

TEST(SiggenTool, PortInUseIsRefused)
{
    int port = 0;
    const int s = testsupport::loopbackSocket(SOCK_STREAM, port);
    ASSERT_GE(s, 0);
    ASSERT_EQ(::listen(s, 1), 0);
    const ToolRun r = siggen("--serve 127.0.0.1:" + std::to_string(port) + " --frames 1");
    ::close(s);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos) << r.err;
}

} // namespace

// A band: each carrier at its Es/N0 over one floor, at its offset. The
// power in each carrier's flat top over the floor there says its Es/N0; the
// floor between carriers is flat; noise alone is the floor alone.
TEST(SiggenTool, ComposesABandOfCarriersOverOneFloor)
{
    const std::string path = temp("band.cf32");
    const ToolRun r = siggen("--band --sample-rate 2000000 --duration 0.25 --format f32 --output " + path +
                             " --carrier 'symbol-rate=200000;offset=-500000;esn0=10' "
                             "--carrier 'standard=dvbs;symbol-rate=100000;offset=400000;code-rate=2/3;esn0=4'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<uint8_t> bytes = testsupport::readFile(path);
    ASSERT_EQ(bytes.size(), 500000u * 8);
    std::vector<std::complex<float>> samples(500000);
    std::memcpy(samples.data(), bytes.data(), bytes.size());
    // The power in 1 kHz bins by a plain DFT at a few frequencies.
    auto power = [&](double hz) {
        double sum = 0;
        const size_t n = 2000;   // 1 ms: a 1 kHz bin
        int blocks = 0;
        for (size_t start = 0; start + n <= samples.size(); start += n, ++blocks) {
            std::complex<double> acc = 0;
            for (size_t k = 0; k < n; ++k)
                acc += std::complex<double>(samples[start + k]) * std::polar(1.0, -2 * M_PI * hz * double(start + k) / 2e6);
            sum += std::norm(acc);
        }
        return sum / blocks;
    };
    // Across each flat top, clear of the centre (where a carrier of
    // repetitive data holds a line).
    auto across = [&](double centre, double halfWidth) {
        double sum = 0;
        for (int k = -2; k <= 2; ++k)
            sum += power(centre + halfWidth * (k + 0.3) / 2.5);
        return sum / 5;
    };
    const double floor = across(0, 200000);
    EXPECT_NEAR(across(-800000, 100000) / floor, 1, 0.15);
    EXPECT_NEAR(10 * std::log10(across(-500000, 60000) / floor - 1), 10, 1.0);
    EXPECT_NEAR(10 * std::log10(across(400000, 30000) / floor - 1), 4, 1.0);
}

