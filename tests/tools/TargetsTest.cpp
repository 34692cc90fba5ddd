// Where tavirel-cli reads and writes: no output may be the input or another
// output, however it is spelled; host names become addresses.
#include "CliOptions.h"
#include "Targets.h"
#include "tests/TestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace {

CliOptions parsed(const QStringList& args)
{
    CliOptions o;
    std::string m;
    EXPECT_EQ(parseCliOptions(QStringList{"tavirel-cli"} + args, o, m), ParseResult::Run) << m;
    return o;
}

std::string dir()
{
    return testsupport::tempPath("targets_");
}

} // namespace

TEST(CliTargets, AnOutputThatIsTheInputOrAnotherOutputIsRefusedNamingBoth)
{
    const std::string in = dir() + "in.iq", link = dir() + "link.iq";
    std::ofstream(in) << "IQ";
    unlink(link.c_str());
    ASSERT_EQ(symlink(in.c_str(), link.c_str()), 0);
    const std::string other = dir() + "out.ts";
    const std::string otherDotted = other.substr(0, other.find_last_of('/')) + "/./" + other.substr(other.find_last_of('/') + 1);
    unlink(other.c_str());

    struct Case {
        QStringList args;
        std::string first, second;   // both named in the message
    };
    const QString input = QString::fromStdString("file:" + in);
    const std::vector<Case> refused = {
        {{"--input", input, "--output", input}, "--output file:" + in, "--input file:" + in},
        {{"--input", input, "--output", QString::fromStdString("file:" + link)}, "link.iq", "--input"},
        {{"--input", input, "--record", QString::fromStdString("samples:" + in)}, "--record samples:", "--input"},
        // Not created yet: the same path however spelled.
        {{"--input", input, "--output", QString::fromStdString("file:" + other), "--output",
          QString::fromStdString("file:" + otherDotted)},
         "--output file:" + otherDotted, "is the same target as --output file:" + other},
        {{"--input", input, "--output", "-", "--output", "-"}, "--output -", "--output -"},
        {{"--input", input, "--output", "udp:127.0.0.1:5000", "--output", "udp:127.0.0.1:5000"}, "udp:127.0.0.1:5000",
         "same target"},
        {{"--input", input, "--output", "tcp-listen:0.0.0.0:5001", "--output", "tcp-listen:0.0.0.0:5001"},
         "tcp-listen", "same target"},
        // Every recording is checked, not only the last: against the input,
        // the outputs and the other recording.
        {{"--input", input, "--record", QString::fromStdString("samples:" + in), "--record",
          QString::fromStdString("symbols:" + other + ".sym")},
         "--record samples:" + in, "is the input"},
        {{"--input", input, "--output", QString::fromStdString("file:" + other), "--record",
          QString::fromStdString("symbols:" + otherDotted), "--record", QString::fromStdString("samples:" + other + ".iq")},
         "--record symbols:" + otherDotted, "same target as --output file:" + other},
        {{"--input", input, "--record", QString::fromStdString("symbols:" + other), "--record",
          QString::fromStdString("samples:" + otherDotted)},
         "--record samples:" + otherDotted, "same target as --record symbols:" + other},
    };
    for (const Case& c : refused) {
        const std::string message = conflictingTargets(parsed(c.args));
        EXPECT_NE(message.find(c.first), std::string::npos) << c.args.join(' ').toStdString() << ": " << message;
        EXPECT_NE(message.find(c.second), std::string::npos) << c.args.join(' ').toStdString() << ": " << message;
    }
    // Distinct targets: UDP and a TCP server on one port, two files.
    EXPECT_EQ(conflictingTargets(parsed({"--input", input, "--output", "udp:127.0.0.1:5000", "--output",
                                         "tcp-listen:127.0.0.1:5000", "--output", QString::fromStdString("file:" + other),
                                         "--record", QString::fromStdString("symbols:" + other + ".sym")})),
              "");
    unlink(link.c_str());
    unlink(in.c_str());
}

TEST(CliTargets, HostNamesResolveToAddresses)
{
    int argc = 1;
    char name[] = "tavirel-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);   // the resolver's threads belong to it
    CliOptions o = parsed({"--input", "tcp:localhost:7777", "--output", "udp:localhost:5000", "--output",
                           "udp:127.0.0.1:5000"});
    std::string message;
    ASSERT_TRUE(resolveHostNames(o, message)) << message;
    EXPECT_EQ(o.inputHost, "127.0.0.1");
    EXPECT_EQ(o.outputs[0].host, "127.0.0.1");
    // The same target once resolved, named as given.
    message = conflictingTargets(o);
    EXPECT_NE(message.find("--output udp:127.0.0.1:5000 is the same target as --output udp:localhost:5000"),
              std::string::npos)
        << message;

    CliOptions bad = parsed({"--input", "tcp:no-such-host.invalid:7777"});
    EXPECT_FALSE(resolveHostNames(bad, message));
    EXPECT_NE(message.find("--input tcp:no-such-host.invalid:7777"), std::string::npos) << message;
    CliOptions badOut = parsed({"--input", "-", "--output", "udp:no-such-host.invalid:5000"});
    EXPECT_FALSE(resolveHostNames(badOut, message));
    EXPECT_NE(message.find("--output udp:no-such-host.invalid:5000"), std::string::npos) << message;
}
