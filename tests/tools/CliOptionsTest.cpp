// tavirel-cli's options: defaults, the checks that name the bad option, and
// the sample conversion of every input format.
#include "CliOptions.h"
#include "RunStatus.h"
#include "SampleReader.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <limits>
#include <random>
#include <vector>

namespace {

ParseResult parse(const QStringList& args, CliOptions& o, std::string& message)
{
    return parseCliOptions(QStringList{"tavirel-cli"} + args, o, message);
}

} // namespace

TEST(CliOptions, DefaultsAreTheTunedProfileAndEveryValueIsTaken)
{
    CliOptions o;
    std::string m;
    ASSERT_EQ(parse({"--input", "file:x.iq"}, o, m), ParseResult::Run) << m;
    const ReceiverSettings tuned = settingsFor(ReceiverProfile::Tuned);
    EXPECT_EQ(o.receiver.sampleRate, tuned.sampleRate);
    EXPECT_EQ(o.receiver.symbolRate, tuned.symbolRate);
    EXPECT_EQ(o.receiver.rollOff, tuned.rollOff);
    EXPECT_EQ(o.receiver.filterTaps, tuned.filterTaps);
    EXPECT_EQ(o.receiver.tedGain, tuned.tedGain);
    EXPECT_EQ(o.receiver.carrierKp, tuned.carrierKp);
    EXPECT_EQ(o.receiver.carrierKi, tuned.carrierKi);
    EXPECT_EQ(o.receiver.reedSolomon, tuned.reedSolomon);
    EXPECT_EQ(o.input, InputKind::File);
    EXPECT_EQ(o.inputPath, "x.iq");
    EXPECT_EQ(o.format, IqFormat::S16);
    EXPECT_TRUE(o.receiver.dvbS2());
    EXPECT_TRUE(o.receiver.spectrumInverted);
    EXPECT_TRUE(o.receiver.carrierLoop);
    EXPECT_EQ(o.receiver.equalizer, EqualizerMode::Off);
    EXPECT_FLOAT_EQ(o.receiver.carrierKi, 2.0f / 2048);
    EXPECT_FLOAT_EQ(o.receiver.carrierKi8psk, 1.0f / 4096);
    EXPECT_TRUE(o.receiver.alignment.automatic);
    EXPECT_EQ(o.receiver.codeRate, CodeRate::R1_2);
    EXPECT_EQ(o.receiver.ldpcDecoder, LdpcDecoderChoice::Scaled);

    CliOptions l;
    ASSERT_EQ(parse({"--input", "file:x.iq", "--ldpc-decoder", "standard"}, l, m), ParseResult::Run) << m;
    EXPECT_EQ(l.receiver.ldpcDecoder, LdpcDecoderChoice::Standard);
    ASSERT_EQ(parse({"--input", "file:x.iq", "--ldpc-decoder", "Scaled "}, l, m), ParseResult::Run) << m;
    EXPECT_EQ(l.receiver.ldpcDecoder, LdpcDecoderChoice::Scaled);
    EXPECT_EQ(parse({"--input", "file:x.iq", "--ldpc-decoder", "fast"}, l, m), ParseResult::Error);
    EXPECT_NE(m.find("ldpc-decoder"), std::string::npos) << m;
    ASSERT_EQ(parse({"--input", "file:x.iq", "--carrier-ki-8psk", "-1"}, l, m), ParseResult::Run) << m;
    EXPECT_FLOAT_EQ(l.receiver.carrierKi8psk, -1.0f);
    EXPECT_EQ(parse({"--input", "file:x.iq", "--carrier-ki-8psk", "-0.5"}, l, m), ParseResult::Error);
    EXPECT_NE(m.find("carrier-ki-8psk"), std::string::npos) << m;

    CliOptions t;
    ASSERT_EQ(parse({"--input", "tcp:127.0.0.1:7777", "--format", "s8", "--sample-rate", "2400000", "--symbol-rate",
                     "1000000", "--standard", "dvbs", "--code-rate", "7/8", "--spectrum", "normal", "--equalizer", "dd",
                     "--derotate", "64", "--skip", "5", "--output", "udp:127.0.0.1:5000", "--output", "-", "--record",
                     "samples:/tmp/s.iq", "--json", "--offset", "-1500"},
                    t, m),
              ParseResult::Run)
        << m;
    EXPECT_EQ(t.input, InputKind::Tcp);
    EXPECT_EQ(t.inputHost, "127.0.0.1");
    EXPECT_EQ(t.inputPort, 7777);
    EXPECT_EQ(t.receiver.sampleRate, 2400000u);
    EXPECT_FALSE(t.receiver.dvbS2());
    EXPECT_EQ(t.receiver.codeRate, CodeRate::R7_8);
    EXPECT_FALSE(t.receiver.spectrumInverted);
    EXPECT_EQ(t.receiver.equalizer, EqualizerMode::DecisionDirected);
    EXPECT_FALSE(t.receiver.alignment.automatic);
    EXPECT_EQ(t.receiver.alignment.derotation, 64);
    EXPECT_EQ(t.receiver.alignment.skip, 5);
    ASSERT_EQ(t.outputs.size(), 2u);
    EXPECT_EQ(t.outputs[0].kind, OutputKind::Udp);
    EXPECT_EQ(t.outputs[0].port, 5000);
    EXPECT_TRUE(t.stdoutCarriesTs());
    ASSERT_EQ(t.recordings.size(), 1u);
    EXPECT_EQ(t.recordings[0].kind, "samples");
    EXPECT_EQ(t.recordings[0].path, "/tmp/s.iq");
    EXPECT_EQ(t.receiver.offsetHz, -1500.0);
    EXPECT_TRUE(t.json);
}

TEST(CliOptions, BadValuesAreRefusedNamingTheOption)
{
    const std::vector<std::pair<QStringList, std::string>> cases = {
        {{}, "--input"},
        {{"--input", "carrier-pigeon"}, "--input"},
        {{"--input", "-", "--sample-rate", "0"}, "--sample-rate"},
        {{"--input", "-", "--sample-rate", "1e12"}, "--sample-rate"},
        {{"--input", "-", "--symbol-rate", "2000000"}, "--symbol-rate"},   // not below the sample rate
        {{"--input", "-", "--symbol-rate", "abc"}, "--symbol-rate"},
        {{"--input", "-", "--format", "s24"}, "--format"},
        {{"--input", "tcp:127.0.0.1:1234", "--format", "u8"}, "--format"},
        {{"--input", "-", "--standard", "dvbt"}, "--standard"},
        {{"--input", "-", "--code-rate", "4/5"}, "--code-rate"},
        {{"--input", "-", "--derotate", "256"}, "--derotate"},
        {{"--input", "-", "--skip", "8"}, "--skip"},
        {{"--input", "-", "--skip", "-1"}, "--skip"},
        {{"--input", "-", "--output", "tcp-listen:127.0.0.1:0"}, "--output"},
        {{"--input", "-", "--record", "bits:/tmp/x"}, "--record"},
        {{"--input", "-", "--offset", "5e6"}, "--offset"},
        // The matched filter runs multiples of 16 up to 256 taps, nothing else.
        {{"--input", "-", "--taps", "8"}, "--taps"},
        {{"--input", "-", "--taps", "17"}, "--taps"},
        {{"--input", "-", "--taps", "100"}, "--taps"},
        {{"--input", "-", "--taps", "250"}, "--taps"},
        {{"--input", "-", "--taps", "512"}, "--taps"},
        // Numbers are finite and in range as they will be used.
        {{"--input", "-", "--offset", "nan"}, "--offset"},
        {{"--input", "-", "--offset", "inf"}, "--offset"},
        {{"--input", "-", "--rolloff", "nan"}, "--rolloff"},
        {{"--input", "-", "--carrier-kp", "nan"}, "--carrier-kp"},
        {{"--input", "-", "--carrier-ki", "inf"}, "--carrier-ki"},
        {{"--input", "-", "--sample-rate", "nan"}, "--sample-rate"},
        {{"--input", "-", "--symbol-rate", "inf"}, "--symbol-rate"},
        {{"--input", "-", "--duration", "inf"}, "--duration"},
        {{"--input", "-", "--duration", "nan"}, "--duration"},
        {{"--input", "-", "--duration", "3000000"}, "--duration"},   // beyond what a timer counts in ms
        {{"--input", "-", "--duration", "-1"}, "--duration"},
        {{"--input", "-", "--status-interval", "nan"}, "--status-interval"},
        {{"--input", "-", "--status-interval", "0.0001"}, "--status-interval"},   // a 0 ms timer
        {{"--input", "-", "--status-interval", "1e308"}, "--status-interval"},
        // Both round to 1000 Hz: the check is made on what is used.
        {{"--input", "-", "--sample-rate", "1000.4", "--symbol-rate", "1000.2"}, "--symbol-rate"},
        {{"--input", "-", "--frobnicate"}, "frobnicate"},
    };
    for (const auto& c : cases) {
        CliOptions o;
        std::string m;
        EXPECT_EQ(parse(c.first, o, m), ParseResult::Error) << c.first.join(' ').toStdString();
        EXPECT_NE(m.find(c.second), std::string::npos) << m;
    }
}

// The symbol rate must leave the signal's band, symbol rate × (1 + roll-off),
// within the sample rate: the receiver's own limit, said with its numbers.
TEST(CliOptions, SymbolRateWithinWhatTheSampleRateCarries)
{
    CliOptions o;
    std::string m;
    EXPECT_EQ(parse({"--input", "-", "--symbol-rate", "1500000"}, o, m), ParseResult::Error);
    EXPECT_NE(m.find("--symbol-rate 1500000: above 1481481 symbols/s, the highest the sample rate 2000000 Hz carries at "
                     "roll-off 0.35"),
              std::string::npos)
        << m;
    EXPECT_EQ(parse({"--input", "-", "--symbol-rate", "20000000", "--sample-rate", "2000000"}, o, m), ParseResult::Error);
    EXPECT_NE(m.find("--symbol-rate"), std::string::npos) << m;

    CliOptions edge;
    ASSERT_EQ(parse({"--input", "-", "--symbol-rate", "1481481"}, edge, m), ParseResult::Run) << m;
    EXPECT_EQ(edge.receiver.symbolRate, 1481481);
    // A narrower roll-off leaves room for more.
    CliOptions narrow;
    ASSERT_EQ(parse({"--input", "-", "--symbol-rate", "1600000", "--rolloff", "0.2"}, narrow, m), ParseResult::Run) << m;
    EXPECT_EQ(narrow.receiver.symbolRate, 1600000);
}

// Both kinds may be recorded at once; a second recording of one kind is
// refused naming both, never dropped without a word.
TEST(CliOptions, OneRecordingOfEachKind)
{
    CliOptions both;
    std::string m;
    ASSERT_EQ(parse({"--input", "-", "--record", "symbols:/tmp/a.sym", "--record", "samples:/tmp/b.iq"}, both, m),
              ParseResult::Run)
        << m;
    ASSERT_EQ(both.recordings.size(), 2u);
    EXPECT_EQ(both.recordings[0].kind, "symbols");
    EXPECT_EQ(both.recordings[0].path, "/tmp/a.sym");
    EXPECT_EQ(both.recordings[1].kind, "samples");
    EXPECT_EQ(both.recordings[1].path, "/tmp/b.iq");

    for (const char* kind : {"samples", "symbols"}) {
        CliOptions o;
        const QString first = QString(kind) + ":/tmp/first", second = QString(kind) + ":/tmp/second";
        EXPECT_EQ(parse({"--input", "-", "--record", first, "--record", second}, o, m), ParseResult::Error) << kind;
        EXPECT_NE(m.find("--record " + second.toStdString()), std::string::npos) << m;
        EXPECT_NE(m.find("--record " + first.toStdString()), std::string::npos) << m;
    }
}

TEST(CliOptions, HostNamesAndRoundedValuesAreTaken)
{
    CliOptions o;
    std::string m;
    ASSERT_EQ(parse({"--input", "tcp:localhost:7777", "--output", "udp:localhost:5000", "--sample-rate", "2400000.4",
                     "--symbol-rate", "999999.6", "--status-interval", "0.05", "--duration", "1000000", "--taps", "256"},
                    o, m),
              ParseResult::Run)
        << m;
    EXPECT_EQ(o.inputHost, "localhost");   // resolved before the run
    EXPECT_EQ(o.outputs[0].text, "udp:localhost:5000");
    EXPECT_EQ(o.receiver.sampleRate, 2400000u);
    EXPECT_EQ(o.receiver.symbolRate, 1000000);
    EXPECT_DOUBLE_EQ(o.statusInterval, 0.05);
    EXPECT_EQ(o.receiver.filterTaps, 256);
}

TEST(CliOptions, HelpListsEveryOptionWithItsDefault)
{
    int argc = 1;
    char name[] = "tavirel-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);   // the help text names the program
    CliOptions o;
    std::string m;
    ASSERT_EQ(parse({"--help"}, o, m), ParseResult::Exit);
    for (const char* option : {"--input", "--format", "--sample-rate", "--symbol-rate", "--standard", "--code-rate",
                               "--offset", "--spectrum", "--rolloff", "--taps", "--ldpc-threads", "--carrier-loop",
                               "--equalizer", "--derotate", "--skip", "--rs", "--output", "--record", "--status-interval",
                               "--json"})
        EXPECT_NE(m.find(option), std::string::npos) << option;
    EXPECT_NE(m.find("Default: s16"), std::string::npos);
    // Every numeric option states its range (read with the help's line
    // wrapping undone), and the exit codes are listed.
    const std::string flat = QString::fromStdString(m).simplified().toStdString();
    for (const char* range : {"1000 to 200000000", "multiple of 16 from 16 to 256", "0.05 to 3600", "up to 1000000",
                              "0 to 64", "0.05 to 1", "0 to 1.", "3 an output failed"})
        EXPECT_NE(flat.find(range), std::string::npos) << range;
}

TEST(CliSamples, EveryFormatBecomesSixteenBitSamples)
{
    std::vector<std::pair<int16_t, int16_t>> got;
    const SampleCallback collect = [&](int16_t i, int16_t q) { got.emplace_back(i, q); };

    IqByteStream u8(IqFormat::U8);
    const uint8_t bytes[] = {128, 0, 255, 129, 7};   // a part sample at the end waits
    EXPECT_EQ(u8.push(bytes, sizeof bytes, collect), 2u);
    EXPECT_EQ(u8.pending(), 1u);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], std::make_pair(int16_t(0), int16_t(-32768)));
    EXPECT_EQ(got[1], std::make_pair(int16_t(127 * 256), int16_t(256)));

    got.clear();
    const int8_t s8[] = {-128, 127};
    IqByteStream(IqFormat::S8).push(reinterpret_cast<const uint8_t*>(s8), 2, collect);
    EXPECT_EQ(got[0], std::make_pair(int16_t(-32768), int16_t(127 * 256)));

    got.clear();
    const float f32[] = {0.5f, -2.0f, 3.0f, std::numeric_limits<float>::quiet_NaN()};
    EXPECT_EQ(IqByteStream(IqFormat::F32).push(reinterpret_cast<const uint8_t*>(f32), sizeof f32, collect), 2u);
    EXPECT_EQ(got[0], std::make_pair(int16_t(16384), int16_t(-32768)));   // limited, not wrapped
    EXPECT_EQ(got[1], std::make_pair(int16_t(32767), int16_t(0)));
}

// A stream cut anywhere gives the samples of the whole, in every format: the
// part sample at the end of one piece is joined to the next.
TEST(CliSamples, PiecesOfAnySizeGiveTheWholeStreamsSamples)
{
    const std::vector<uint8_t> bytes = testsupport::randomBytes(4000, 9);
    std::mt19937 rng(10);   // the pieces' sizes
    for (IqFormat format : {IqFormat::S8, IqFormat::U8, IqFormat::S16, IqFormat::F32}) {
        std::vector<std::pair<int16_t, int16_t>> whole, pieces;
        deliverIqSamples(bytes.data(), bytes.size(), format, [&](int16_t i, int16_t q) { whole.emplace_back(i, q); });
        // Sample by sample and in converted runs, as the file and network
        // inputs hand them on.
        std::vector<std::pair<int16_t, int16_t>> runs;
        IqByteStream stream(format), runStream(format);
        size_t delivered = 0, deliveredInRuns = 0;
        for (size_t at = 0; at < bytes.size();) {
            const size_t n = std::min<size_t>(rng() % 11, bytes.size() - at);
            delivered += stream.push(bytes.data() + at, n, [&](int16_t i, int16_t q) { pieces.emplace_back(i, q); });
            deliveredInRuns += runStream.pushRuns(bytes.data() + at, n, [&](const int16_t* iq, size_t count) {
                EXPECT_GT(count, 0u);
                for (size_t k = 0; k < count; ++k)
                    runs.emplace_back(iq[2 * k], iq[2 * k + 1]);
            });
            at += n;
        }
        EXPECT_EQ(pieces, whole) << int(format);
        EXPECT_EQ(runs, whole) << int(format);
        EXPECT_EQ(delivered, whole.size());
        EXPECT_EQ(deliveredInRuns, whole.size());
        EXPECT_EQ(stream.pending(), bytes.size() % iqSampleBytes(format));
        EXPECT_EQ(runStream.pending(), bytes.size() % iqSampleBytes(format));
    }
}

// The JSON status is valid UTF-8 with every control character escaped,
// whatever bytes a string holds.
TEST(CliJson, StringsAreEscapedAndValidUtf8)
{
    auto text = [](const std::string& value) { return jsonText({{"s", value}}); };
    EXPECT_EQ(text("a\"b\\c\n\t"), "{\"s\":\"a\\\"b\\\\c\\n\\t\"}");
    EXPECT_EQ(text("\x1B]0;x\x07"), "{\"s\":\"\\u001b]0;x\\u0007\"}");
    EXPECT_EQ(text("caf\xE9"), "{\"s\":\"caf\xEF\xBF\xBD\"}");            // a Latin-1 byte
    EXPECT_EQ(text("caf\xC3\xA9"), "{\"s\":\"caf\xC3\xA9\"}");            // UTF-8 stays
}
