// tavirel-cli --scan on bands the transmitter composes: every carrier found,
// its rate measured, what it carries identified; nothing where nothing is.
#include "tests/TestSupport.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::ToolRun;

// The band from the transmitter straight into the scan.
ToolRun scanBand(const std::string& band, const std::string& scanOptions)
{
    return testsupport::runTool(TAVIREL_SIGGEN, "--band " + band + " --output - 2>/dev/null | " +
                                                    std::string(TAVIREL_CLI) + " --input - " + scanOptions);
}

std::vector<nlohmann::json> carriersOf(const std::string& out)
{
    std::vector<nlohmann::json> carriers;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        if (!j.is_discarded() && j.value("type", "") == "carrier")
            carriers.push_back(j);
    }
    return carriers;
}

} // namespace

// Two DVB-S2 carriers and a DVB-S one at different rates, levels and
// offsets: each at its centre (to 1 % of its rate) and rate (to 0.1 %),
// with its standard, MODCOD or code rate and service; the frequencies with
// the LNB's oscillator added when the centre is known (here it is not).
TEST(CliScan, FindsMeasuresAndIdentifiesEveryCarrierOfABand)
{
    const ToolRun r = scanBand("--sample-rate 2000000 --duration 30 "
                               "--carrier 'symbol-rate=100000;offset=-600000;modcod=QPSK 1/2;esn0=6;service=ALPHA' "
                               "--carrier 'symbol-rate=400000;offset=100000;modcod=8PSK 3/5;esn0=12;service=BRAVO' "
                               "--carrier 'standard=dvbs;symbol-rate=250000;offset=650000;code-rate=3/4;esn0=8;"
                               "service=CHARLIE'",
                               "--sample-rate 2000000 --scan --json");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<nlohmann::json> carriers = carriersOf(r.out);
    ASSERT_EQ(carriers.size(), 3u) << r.out;
    struct Expected {
        double offset, rate;
        const char* standard;
        const char* modcod;
        const char* service;
    };
    const Expected expected[] = {{-600000, 100000, "DVB-S2", "QPSK 1/2 normal", "ALPHA"},
                                 {100000, 400000, "DVB-S2", "8PSK 3/5 normal", "BRAVO"},
                                 {650000, 250000, "DVB-S", "3/4", "CHARLIE"}};
    for (size_t i = 0; i < 3; ++i) {
        const nlohmann::json& c = carriers[i];
        const Expected& e = expected[i];
        EXPECT_NEAR(c["offset_hz"].get<double>(), e.offset, 0.01 * e.rate) << c;
        EXPECT_NEAR(c["symbol_rate"].get<double>(), e.rate, 0.001 * e.rate) << c;
        EXPECT_TRUE(c["rate_measured"].get<bool>()) << c;
        EXPECT_TRUE(c["frequency_hz"].is_null()) << c;
        EXPECT_EQ(c["standard"], e.standard) << c;
        EXPECT_EQ(c["modcod"], e.modcod) << c;
        ASSERT_EQ(c["services"].size(), 1u) << c;
        EXPECT_NE(c["services"][0].get<std::string>().find(e.service), std::string::npos) << c;
    }
    // The MER of the QPSK carrier without pilots, read from the decisions
    // before the framing's lock could give it, and the DVB-S one's; the
    // 8PSK carrier's headers alone do not give it within the visit.
    ASSERT_FALSE(carriers[0]["mer_db"].is_null()) << carriers[0];
    EXPECT_NEAR(carriers[0]["mer_db"].get<double>(), 6.0, 0.5) << carriers[0];
    ASSERT_FALSE(carriers[2]["mer_db"].is_null()) << carriers[2];
    EXPECT_NEAR(carriers[2]["mer_db"].get<double>(), 8.0, 0.5) << carriers[2];
}

// Noise alone: no carrier. A carrier that leaves after the survey saw it is
// listed, not decoded; one that arrives after it is not listed.
TEST(CliScan, ReportsOnlyCarriersThatAreThere)
{
    ToolRun r = scanBand("--sample-rate 2000000 --duration 4", "--sample-rate 2000000 --scan");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("scan: 0 carriers"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("carrier 1:"), std::string::npos) << r.out;

    r = scanBand("--sample-rate 2000000 --duration 20 "
                 "--carrier 'symbol-rate=300000;offset=-400000;esn0=10;dropout=0.35:30' "
                 "--carrier 'symbol-rate=300000;offset=400000;esn0=10;dropout=0:1.5'",
                 "--sample-rate 2000000 --scan");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("scan: 1 carriers"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("carrier 1: offset -39"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("not decoded"), std::string::npos) << r.out;
}

TEST(CliScan, WritesNoStream)
{
    const ToolRun r = testsupport::runTool(TAVIREL_CLI, "--input file:/dev/null --scan --output file:/tmp/x.ts");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("--scan lists the carriers and writes no stream"), std::string::npos) << r.err;
}

// The wide band of an amateur transponder: six carriers from 33 ksym/s to
// 2 Msym/s on 10 Msps, DVB-S2 of four MODCODs and a DVB-S one, 6 to 15 dB.
// Every one is found, measured, identified and named in under ten seconds
// of signal, and the carrier loop's own offset is reported where it locked.
TEST(CliScanLong, SixCarriersOfAWideBand)
{
    const ToolRun r = scanBand(
        "--sample-rate 10000000 --duration 14 "
        "--carrier 'symbol-rate=33000;offset=-4.1e6;modcod=QPSK 1/2;esn0=8;service=SMALL' "
        "--carrier 'symbol-rate=125000;offset=-3.5e6;modcod=QPSK 3/4;esn0=6;service=BETA' "
        "--carrier 'symbol-rate=333000;offset=-2.6e6;modcod=8PSK 2/3;esn0=12;service=GAMMA' "
        "--carrier 'symbol-rate=1000000;offset=-1.0e6;modcod=QPSK 2/3;esn0=9;service=DELTA' "
        "--carrier 'symbol-rate=2000000;offset=1.6e6;modcod=16APSK 3/4;esn0=15;service=EPSILON' "
        "--carrier 'symbol-rate=1500000;offset=3.7e6;standard=dvbs;code-rate=3/4;esn0=7;service=ZETA'",
        "--sample-rate 10000000 --frequency 10491500000 --lnb -9750000000 --scan");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    struct Expected {
        double offset, rate;
        const char* identity;
        const char* service;
    };
    const Expected expected[] = {{-4.1e6, 33000, "DVB-S2 QPSK 1/2 normal", "SMALL"},
                                 {-3.5e6, 125000, "DVB-S2 QPSK 3/4 normal", "BETA"},
                                 {-2.6e6, 333000, "DVB-S2 8PSK 2/3 normal", "GAMMA"},
                                 {-1.0e6, 1000000, "DVB-S2 QPSK 2/3 normal", "DELTA"},
                                 {1.6e6, 2000000, "DVB-S2 16APSK 3/4 normal", "EPSILON"},
                                 {3.7e6, 1500000, "DVB-S 3/4", "ZETA"}};
    std::istringstream lines(r.out);
    std::string line;
    int n = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("carrier ", 0) != 0)
            continue;
        ASSERT_LT(n, 6) << r.out;
        const Expected& e = expected[n++];
        SCOPED_TRACE(line);
        // "carrier 1: 741.4000 MHz | 33.000 ksym/s (…) | Es/N0 … | DVB-S2 …"
        double mhz = 0, ksym = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "carrier %*d: %lf MHz | %lf ksym/s", &mhz, &ksym), 2);
        EXPECT_NEAR(mhz * 1e6, 741.5e6 + e.offset, 0.01 * e.rate);
        EXPECT_NEAR(ksym * 1e3, e.rate, 0.001 * e.rate);
        EXPECT_NE(line.find(e.identity), std::string::npos);
        EXPECT_NE(line.find(e.service), std::string::npos);
    }
    EXPECT_EQ(n, 6) << r.out;
    double seconds = 99;
    const size_t at = r.out.find("scan: 6 carriers in ");
    ASSERT_NE(at, std::string::npos) << r.out;
    std::sscanf(r.out.c_str() + at, "scan: 6 carriers in %lf s of signal", &seconds);
    EXPECT_LT(seconds, 10.0) << r.out;
}

// The independent transmitter's recordings, scanned without being told
// their symbol rate: each rate to 0.1 %, MODCOD or code rate and service
// right. The DVB-S ones (half a second each) are played eight times over:
// trying DVB-S2 first and then each code rate takes more signal than that.
TEST(CliScan, IndependentRecordingsAreIdentifiedWithoutTheirRate)
{
    for (const char* name : {"dvbs2_qpsk12_normal_pilots", "dvbs2_qpsk12_normal_pilots_noisy",
                             "dvbs2_8psk23_normal_pilots", "dvbs2_qpsk34_short_nopilots", "dvbs_qpsk12",
                             "dvbs_qpsk78"}) {
        SCOPED_TRACE(name);
        const std::string base = std::string(TAVIREL_TEST_DATA) + "/" + name;
        std::ifstream file(base + ".json");
        const nlohmann::json meta = nlohmann::json::parse(file, nullptr, false);
        ASSERT_FALSE(meta.is_discarded());
        const bool dvbs2 = meta["standard"] == "DVB-S2";
        std::string input = "cat '" + base + ".iq'";
        for (int i = 1; i < (dvbs2 ? 1 : 8); ++i)
            input += " '" + base + ".iq'";
        const ToolRun r = testsupport::runTool(
            input + " | " + TAVIREL_CLI,
            "--input - --format " + meta["sample_format"].get<std::string>() + " --sample-rate " +
                std::to_string(std::llround(meta["samp_rate_hz"].get<double>())) + " --scan --json");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::vector<nlohmann::json> carriers = carriersOf(r.out);
        ASSERT_EQ(carriers.size(), 1u) << r.out;
        const nlohmann::json& c = carriers[0];
        const double rate = meta["sym_rate_baud"].get<double>();
        EXPECT_NEAR(c["symbol_rate"].get<double>(), rate, 0.001 * rate) << c;
        EXPECT_EQ(c["standard"], meta["standard"]) << c;
        const std::string identity =
            dvbs2 ? meta["modcod"].get<std::string>() + " " + meta["frame_size"].get<std::string>() +
                        (meta["pilots"].get<bool>() ? " pilots" : "")
                  : meta["code_rate"].get<std::string>();
        EXPECT_EQ(c["modcod"], identity) << c;
        ASSERT_EQ(c["services"].size(), 1u) << c;
        EXPECT_NE(c["services"][0].get<std::string>().find(meta["service_name"].get<std::string>()),
                  std::string::npos)
            << c;
    }
}
