#include "app/WindowOptions.h"

#include <QHostAddress>

#include <gtest/gtest.h>

namespace {

ParseResult parse(const QStringList& args, WindowOptions& o, std::string& message)
{
    return parseWindowOptions(QStringList{"tavirel"} + args, o, message);
}

} // namespace

TEST(WindowOptions, NoArgumentsOpenTheWindowAsUsual)
{
    WindowOptions o;
    std::string message;
    ASSERT_EQ(parse({}, o, message), ParseResult::Run) << message;
    EXPECT_TRUE(o.releaseNotes);
    EXPECT_FALSE(o.tcp.has_value());
    EXPECT_FALSE(o.recordType.has_value());
    EXPECT_EQ(o.quitAfter, 0);
}

TEST(WindowOptions, TcpInputWithItsFormatAndRate)
{
    WindowOptions o;
    std::string message;
    ASSERT_EQ(parse({"--tcp", "127.0.0.1:7777", "--format", "s8", "--sample-rate", "2400000", "--symbol-rate", "500000",
                     "--standard", "dvbs", "--no-release-notes", "--record", "symbols:/tmp/x.iq"},
                    o, message),
              ParseResult::Run)
        << message;
    ASSERT_TRUE(o.tcp.has_value());
    EXPECT_EQ(o.tcp->address, "127.0.0.1");
    EXPECT_EQ(o.tcp->port, 7777);
    EXPECT_EQ(o.tcp->format, IqFormat::S8);
    EXPECT_DOUBLE_EQ(o.tcp->bandwidthMHz, 2.4);
    EXPECT_EQ(o.symbolRate, 500000);
    EXPECT_EQ(o.standard, Standard::DvbS);
    EXPECT_FALSE(o.releaseNotes);
    EXPECT_EQ(o.recordType, RecordType::Symbols);
    EXPECT_EQ(o.recordPath, "/tmp/x.iq");

    // A host name is resolved here: the device takes addresses only.
    ASSERT_EQ(parse({"--tcp", "localhost:7777"}, o, message), ParseResult::Run) << message;
    EXPECT_FALSE(QHostAddress(o.tcp->address).isNull());
    ASSERT_EQ(parse({"--tcp", "[::1]:7000"}, o, message), ParseResult::Run) << message;
    EXPECT_EQ(o.tcp->address, "::1");

    // A plain path records the transport stream.
    ASSERT_EQ(parse({"--record", "out.ts"}, o, message), ParseResult::Run) << message;
    EXPECT_EQ(o.recordType, RecordType::TransportStream);
    EXPECT_EQ(o.recordPath, "out.ts");
}

TEST(WindowOptions, BadValuesNameTheirOption)
{
    const std::vector<std::pair<QStringList, std::string>> cases = {
        {{"--tcp", "127.0.0.1"}, "--tcp"},
        {{"--tcp", "127.0.0.1:0"}, "--tcp"},
        {{"--tcp", "127.0.0.1:70000"}, "--tcp"},
        {{"--tcp", "no-such-host.invalid:7777"}, "--tcp"},
        {{"--tcp", "127.0.0.1:7777", "--format", "u8"}, "--format"},
        {{"--tcp", "127.0.0.1:7777", "--sample-rate", "fast"}, "--sample-rate"},
        {{"--symbol-rate", "0"}, "--symbol-rate"},
        {{"--standard", "dvbt"}, "--standard"},
        {{"--quit-after", "-1"}, "--quit-after"},
        {{"--record", "ts:"}, "--record"},
        {{"--screenshot", "a.png"}, "--screenshot"},
        // One recording: a second is refused, naming both, not dropped.
        {{"--record", "ts:a.ts", "--record", "samples:b.iq"}, "--record samples:b.iq: the window makes one recording; --record ts:a.ts"},
        {{"--record", "a.ts", "--record", "a.ts"}, "--record a.ts"},
        // The screenshot would be written over the recording.
        {{"--record", "ts:x.png", "--quit-after", "1", "--screenshot", "./x.png"}, "is the same file as --screenshot"},
        {{"--bogus"}, "bogus"},
    };
    for (const auto& c : cases) {
        WindowOptions o;
        std::string message;
        EXPECT_EQ(parse(c.first, o, message), ParseResult::Error) << c.first.join(' ').toStdString();
        EXPECT_NE(message.find(c.second), std::string::npos) << message;
    }
}

TEST(WindowOptions, HelpListsTheWindowsOptions)
{
    WindowOptions o;
    std::string message;
    ASSERT_EQ(parse({"--help"}, o, message), ParseResult::Exit);
    for (const char* option : {"--tcp", "--format", "--sample-rate", "--symbol-rate", "--standard", "--no-release-notes",
                               "--record", "--screenshot", "--quit-after"})
        EXPECT_NE(message.find(option), std::string::npos) << option;

    char program[] = "tavirel", help[] = "--help", other[] = "--tcp";
    char* withHelp[] = {program, other, help};
    char* without[] = {program, other};
    EXPECT_TRUE(wantsHelp(3, withHelp));
    EXPECT_FALSE(wantsHelp(2, without));
}
