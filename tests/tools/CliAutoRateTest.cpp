// tavirel-cli --symbol-rate auto: the rate of the carrier at the tuned
// frequency measured before decoding, from a narrow carrier to one that
// fills the band, and the receiver locked at it within two seconds of
// signal. Nothing measured where there is no carrier.
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

namespace {

using testsupport::ToolRun;

// The transmitter's signal (`signal`: its options) straight into the
// receiver with `receive` and --symbol-rate auto.
ToolRun receiveAuto(const std::string& signal, const std::string& receive)
{
    return testsupport::runTool(TAVIREL_SIGGEN, signal + " --format s16 --output - 2>/dev/null | " +
                                                    std::string(TAVIREL_CLI) + " --input - --format s16 " +
                                                    receive + " --symbol-rate auto --status-interval 0");
}

// The rate the run said it measured, or 0.
double measuredRate(const ToolRun& r)
{
    std::smatch m;
    static const std::regex line("symbol rate: ([0-9]+) symbols/s measured");
    return std::regex_search(r.out, m, line) ? std::atof(m[1].str().c_str()) : 0.0;
}

int framesDecoded(const ToolRun& r)
{
    std::smatch m;
    static const std::regex frames("frames ([0-9]+) ok");
    return std::regex_search(r.out, m, frames) ? std::atoi(m[1].str().c_str()) : -1;
}

} // namespace

// QPSK 1/2 at 3 dB: a 25 ksym/s carrier off centre at 1 Msps, where the
// rate is measured from a few thousand symbols, and carriers of three
// quarters and four fifths of the sample rate, whose bands leave the floor
// only at the edges and whose lines show folded (at 1.25 samples per
// symbol only a roll-off of 0.2 fits in the band). Each is decoded after
// at most two seconds of signal: the run's signal is that long plus a
// frame or two.
TEST(CliAutoRate, MeasuresTheTunedCarrierAndLocks)
{
    struct Case {
        const char* signal;
        const char* receive;
        double rate;
    };
    const Case cases[] = {
        {"--sample-rate 1000000 --symbol-rate 25000 --offset 120000 --esn0 3 --frame short --duration 2.4",
         "--sample-rate 1000000 --offset 120000", 25000},
        {"--sample-rate 2000000 --symbol-rate 1500000 --rolloff 0.2 --esn0 3 --duration 2.05",
         "--sample-rate 2000000", 1500000},
        {"--sample-rate 2000000 --symbol-rate 1600000 --rolloff 0.2 --esn0 3 --duration 2.05",
         "--sample-rate 2000000", 1600000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signal);
        const ToolRun r = receiveAuto(c.signal, c.receive);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("start: standard input | "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(" auto symbols/s"), std::string::npos) << r.out;
        EXPECT_NEAR(measuredRate(r), c.rate, 0.001 * c.rate) << r.out;
        EXPECT_GE(framesDecoded(r), 1) << r.out;
    }
}

// Two carriers: the one at the tuned offset is measured, not the stronger.
// Noise alone: nothing is measured, said at the end, and nothing decoded.
TEST(CliAutoRate, TheTunedCarrierOfTwoAndNoneInNoise)
{
    const ToolRun two = testsupport::runTool(
        TAVIREL_SIGGEN, "--band --sample-rate 2000000 --duration 2 --output - "
                        "--carrier 'symbol-rate=100000;offset=-500000;esn0=6' "
                        "--carrier 'symbol-rate=500000;offset=400000;esn0=15' 2>/dev/null | " +
                            std::string(TAVIREL_CLI) +
                            " --input - --sample-rate 2000000 --offset -480000 --symbol-rate auto --status-interval 0");
    ASSERT_EQ(two.exitCode, 0) << two.err;
    EXPECT_NEAR(measuredRate(two), 100000, 100) << two.out;
    EXPECT_GE(framesDecoded(two), 1) << two.out;

    const ToolRun noise = testsupport::runTool(
        TAVIREL_SIGGEN, "--band --sample-rate 1000000 --duration 1 --output - 2>/dev/null | " +
                            std::string(TAVIREL_CLI) + " --input - --sample-rate 1000000 --symbol-rate auto --status-interval 0");
    ASSERT_EQ(noise.exitCode, 0) << noise.err;
    EXPECT_EQ(measuredRate(noise), 0.0) << noise.out;
    EXPECT_NE(noise.err.find("no carrier's symbol rate could be measured"), std::string::npos) << noise.err;
    EXPECT_EQ(framesDecoded(noise), 0) << noise.out;
}
