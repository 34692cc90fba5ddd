#include "app/GeneralSettings.h"

#include <QTemporaryDir>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// Loads a config.ini holding `generic` as its "Generic" group.
GeneralSettings loadFrom(const std::string& generic)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    std::ofstream(path.toStdString()) << "[Generic]\n" << generic;
    return loadGeneralSettings(path);
}

} // namespace

TEST(GeneralSettings, AMissingFileGivesEveryDefault)
{
    QTemporaryDir dir;
    const GeneralSettings g = loadGeneralSettings(dir.filePath("config.ini"));
    EXPECT_EQ(g.uiStyles, QStringList({"windowsvista", "Fusion"}));
    EXPECT_FALSE(g.iqPlotColour.has_value());
    EXPECT_EQ(g.freqLo0, 9750);
    EXPECT_EQ(g.freqLo1, 10600);
    EXPECT_EQ(g.srMin, 8);
    EXPECT_EQ(g.srMax, 8000);
    EXPECT_EQ(g.ldpcThreads, 0);
    EXPECT_EQ(g.ldpcDecoder, LdpcDecoderChoice::Scaled);
    EXPECT_EQ(g.srPresets, std::vector<int>({2000, 1000, 500, 333, 250, 125, 66, 33}));
    EXPECT_EQ(g.ipOutAddr, "127.0.0.1");
    EXPECT_EQ(g.ipOutPort, 8888);
    EXPECT_EQ(g.ipOutMode, NetworkMode::Udp);
    EXPECT_EQ(g.iioNetContexts, QStringList({"192.168.2.1"}));
}

TEST(GeneralSettings, ValuesAreReadAndClampedByTheirRules)
{
    const GeneralSettings g = loadFrom("ui_style=Fusion Windows\n"
                                       "ui_iqplot_rgb=10 200 30\n"
                                       "freq_lo0=-5\n"
                                       "freq_lo1=9750\n"
                                       "sr_min=33\n"
                                       "sr_max=2000\n"
                                       "sr_presets=5000 33 1000 abc 2000 32\n"
                                       "ip_out_addr=192.168.1.20\n"
                                       "ip_out_port=5000\n"
                                       "ip_out_mode=7\n"
                                       "iio_net_contexts=10.0.0.1 10.0.0.2\n"
                                       "conf_ldpc_threads=3\n"
                                       "conf_ldpc_decoder = standard\n");
    EXPECT_EQ(g.uiStyles, QStringList({"Fusion", "Windows"}));
    ASSERT_TRUE(g.iqPlotColour.has_value());
    EXPECT_EQ(*g.iqPlotColour, QColor(10, 200, 30, 255));
    EXPECT_EQ(g.freqLo0, 0) << "a negative LO becomes 0";
    EXPECT_EQ(g.freqLo1, 9750);
    EXPECT_EQ(g.srPresets, std::vector<int>({33, 1000, 2000})) << "only presets within sr_min … sr_max";
    EXPECT_EQ(g.ipOutAddr, "192.168.1.20");
    EXPECT_EQ(g.ipOutPort, 5000);
    EXPECT_EQ(g.ipOutMode, NetworkMode::Off) << "a mode above 2 is off";
    EXPECT_EQ(g.iioNetContexts, QStringList({"10.0.0.1", "10.0.0.2"}));
    EXPECT_EQ(g.ldpcThreads, 3);
    EXPECT_EQ(g.ldpcDecoder, LdpcDecoderChoice::Standard);

    EXPECT_EQ(loadFrom("sr_presets=5000 33\nsr_max=2000\n").srPresets, std::vector<int>({33}));
}

TEST(GeneralSettings, GarbledAndHugeValuesNeverBreakTheWindow)
{
    // Text where numbers belong: the defaults.
    GeneralSettings g = loadFrom("sr_min=fast\nsr_max=\nfreq_lo0=ten\nip_out_port=eighty\nip_out_mode=udp\n"
                                 "conf_ldpc_threads=many\nui_iqplot_rgb=red green blue\nconf_ldpc_decoder=best\n");
    EXPECT_EQ(g.ldpcDecoder, LdpcDecoderChoice::Scaled);
    EXPECT_EQ(g.srMin, 8);
    EXPECT_EQ(g.srMax, 8000);
    EXPECT_EQ(g.freqLo0, 9750);
    EXPECT_EQ(g.ipOutPort, 8888);
    EXPECT_EQ(g.ipOutMode, NetworkMode::Udp);
    EXPECT_EQ(g.ldpcThreads, 0);
    EXPECT_FALSE(g.iqPlotColour.has_value());

    // Huge and negative values: clamped to what the controls can take.
    g = loadFrom("ip_out_port=99999\nip_out_mode=-1\nconf_ldpc_threads=100000\nui_iqplot_rgb=300 -4 20 99\n");
    EXPECT_EQ(g.ipOutPort, kMaxPort);
    EXPECT_EQ(g.ipOutMode, NetworkMode::Off);
    EXPECT_EQ(g.ldpcThreads, kMaxLdpcThreads);
    ASSERT_TRUE(g.iqPlotColour.has_value());
    EXPECT_EQ(*g.iqPlotColour, QColor(255, 0, 20));


    // Empty lists stay empty (no style applied, no preset, no network radio).
    g = loadFrom("ui_style=\nsr_presets=\niio_net_contexts=\n");
    EXPECT_TRUE(g.uiStyles.isEmpty());
    EXPECT_TRUE(g.srPresets.empty());
    EXPECT_TRUE(g.iioNetContexts.isEmpty());
}

TEST(GeneralSettings, AFileThatIsNoIniFileGivesTheDefaults)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    std::ofstream(path.toStdString(), std::ios::binary) << std::string("\x00\xff\x01[Gen\neric]]]\n=\n\x7f", 18);
    const GeneralSettings g = loadGeneralSettings(path);
    EXPECT_EQ(g.srMax, 8000);
    EXPECT_EQ(g.ipOutMode, NetworkMode::Udp);
    EXPECT_EQ(g.srPresets.size(), 8u);
}

// A symbol-rate range the receiver cannot use (empty, 0, negative, beyond
// what the controls take, no number) is not guessed at: both ends take their
// defaults, and the log says so. A receiver at 0 sym/s decodes nothing.
TEST(GeneralSettings, AnUnusableSymbolRateRangeFallsBackToTheDefaultsWithALine)
{
    const std::vector<std::string> unusable = {
        "sr_max=0\n",
        "sr_max=-5\n",
        "sr_min=-100\nsr_max=2000\n",
        "sr_min=0\nsr_max=2000\n",
        "sr_max=99999999999\n",
        "sr_max=99999999999999999999999\n",
        "sr_min=5000\nsr_max=100\n",
        "sr_min=2000\nsr_max=2000\n",
        "sr_max=5\n",   // below the default sr_min
        "sr_min=fast\nsr_max=2000\n",
        "sr_max=\n",
    };
    for (const std::string& generic : unusable) {
        CaptureStdout();
        const GeneralSettings g = loadFrom(generic + "sr_presets=2000 1000 5\n");
        const std::string log = GetCapturedStdout();
        EXPECT_EQ(g.srMin, 8) << generic;
        EXPECT_EQ(g.srMax, 8000) << generic;
        EXPECT_EQ(g.srPresets, std::vector<int>({2000, 1000})) << generic;
        EXPECT_NE(log.find("symbol-rate range sr_min = "), std::string::npos) << generic << log;
        EXPECT_NE(log.find("is not usable (whole numbers 1 to 100000 ksym/s, sr_min below sr_max); using 8 to 8000 "
                           "ksym/s"),
                  std::string::npos)
            << generic << log;
    }
    // A line of any length is a short log line.
    CaptureStdout();
    loadFrom("sr_max=" + std::string(100000, '9') + "\n");
    const std::string log = GetCapturedStdout();
    EXPECT_LT(log.size(), 400u) << log.substr(0, 400);
    EXPECT_NE(log.find("(100000 characters)"), std::string::npos) << log.substr(0, 400);

    // A usable range: taken as it is, nothing said.
    CaptureStdout();
    const GeneralSettings g = loadFrom("sr_min=1\nsr_max=100000\n");
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(g.srMin, 1);
    EXPECT_EQ(g.srMax, kMaxSymbolRateKsym);
}

// An output address that is no address: said in the log, the output off,
// the default address kept for the Output tab.
TEST(GeneralSettings, AnAddressThatIsNoAddressTurnsTheOutputOff)
{
    for (const std::string& address : {std::string("not-an-address"), std::string("300.1.1.1"), std::string(""),
                                       std::string(200000, '7')}) {
        CaptureStdout();
        const GeneralSettings g = loadFrom("ip_out_mode=2\nip_out_addr=" + address + "\n");
        const std::string log = GetCapturedStdout();
        EXPECT_EQ(g.ipOutMode, NetworkMode::Off) << address.substr(0, 40);
        EXPECT_EQ(g.ipOutAddr, "127.0.0.1");
        EXPECT_NE(log.find("ip_out_addr '" + address.substr(0, 40) + "'"), std::string::npos) << log.substr(0, 300);
        EXPECT_NE(log.find("is not an IP address; the network output is off"), std::string::npos) << log.substr(0, 300);
        EXPECT_LT(log.size(), 400u);
    }
    CaptureStdout();
    const GeneralSettings g = loadFrom("ip_out_mode=2\nip_out_addr= ::1 \n");
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(g.ipOutMode, NetworkMode::TcpServer);
    EXPECT_EQ(g.ipOutAddr, "::1");
}

// A config.ini that is no regular file, or too large, is not read: the
// settings class would wait for a pipe's writer or take the file whole.
TEST(GeneralSettings, AnUnreadableFileIsSaidAndGivesTheDefaults)
{
    QTemporaryDir dir;
    const QString pipe = dir.filePath("config.ini");
    ASSERT_EQ(mkfifo(pipe.toUtf8().constData(), 0600), 0);
    CaptureStdout();
    GeneralSettings g = loadGeneralSettings(pipe);
    EXPECT_EQ(GetCapturedStdout(), pipe.toStdString() + " is not a regular file; the default settings are used\n");
    EXPECT_EQ(g.srMax, 8000);
    EXPECT_EQ(g.ipOutMode, NetworkMode::Udp);

    const QString huge = dir.filePath("huge.ini");
    std::ofstream(huge.toStdString()) << "[Generic]\nip_out_mode=0\nip_out_addr=" << std::string(10000000, '1') << "\n";
    CaptureStdout();
    g = loadGeneralSettings(huge);
    const std::string log = GetCapturedStdout();
    EXPECT_NE(log.find(" is too large ("), std::string::npos) << log;
    EXPECT_EQ(g.ipOutMode, NetworkMode::Udp) << "the defaults, not the file's";
}
