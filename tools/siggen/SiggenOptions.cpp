#include "SiggenOptions.h"

#include "devices/SigmfMetadata.h"

#include "SampleSink.h"


#include <QCommandLineParser>

#include <cmath>

using namespace tx;
#include <sstream>


namespace {

const char* kDescription =
    "A standard-conformant DVB-S2 (EN 302 307-1) and DVB-S (EN 300 421) test transmitter.\n"
    "\n"
    "Choices the standards leave open (the same as the independent transmitter of the\n"
    "project's test fixtures, so that runs agree symbol for symbol):\n"
    "  - DVB-S2: the first TS packet starts at the first bit of the first data field\n"
    "    (SYNCD 0 in the first BBFRAME) and carries 0x00 in place of its sync byte;\n"
    "    frames carry DFL = Kbch - 80 without padding, and the TS is taken at exactly\n"
    "    the useful rate, so no dummy frames appear while data is available. Dummy\n"
    "    PLFRAMEs are sent only once a TS file (without --loop) has ended. PL scrambling\n"
    "    code 0. The first PLFRAME's SOF is centred on sample 0; nothing precedes it.\n"
    "  - DVB-S: the energy-dispersal group starts with the first packet; the\n"
    "    interleaver starts with empty (zero) FIFOs and the convolutional encoder in\n"
    "    the zero state; the puncturing period starts at symbol 0. Once a TS file has\n"
    "    ended, null packets follow.\n"
    "  - Every symbol (data, header, pilots) has unit mean energy; APSK rings are\n"
    "    scaled to unit mean energy. The RRC pulse has unit energy, so --level sets\n"
    "    the signal RMS directly; noise is white over the whole sampled band.\n"
    "  - Built-in TS: PAT and PMTs every 100 ms, SDT every 500 ms; service i (from 0)\n"
    "    has service_id i+1, PMT PID 0x1000+i and payload PID 0x0100+i, whose packets\n"
    "    carry a 64-bit counter per PID; null packets fill the rest.\n"
    "  - GSE (--gse): PDUs of --gse-pdu-size bytes (64-bit counter, then a byte pattern).\n"
    "\n"
    "Exit codes: 0 done, 1 impossible or malformed parameters, 2 output or port unusable.";

bool parseDouble(const QString& text, double& value)
{
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && std::isfinite(value);
}

bool parseRate(const QString& text, int64_t& value)
{
    double v;
    if (!parseDouble(text, v) || v <= 0 || v > 1e12)
        return false;
    value = int64_t(std::llround(v));
    return value > 0;
}

} // namespace

std::string describeSettings(const TxSettings& s)
{
    std::ostringstream out;
    if (s.standard == Standard::Dvbs) {
        out << "DVB-S rate " << dvbsRateName(s.dvbsRate);
    } else {
        out << "DVB-S2 ";
        for (size_t i = 0; i < s.modcods.size(); ++i)
            out << (i ? "," : "") << modcodInfo(s.modcods[i]).name;
        out << (s.frame == FrameSize::Short ? " short" : " normal") << " frames, pilots "
            << (s.pilots ? "on" : "off") << (s.gse ? ", GSE" : "");
    }
    out << ", roll-off " << rollOffFactor(s.rollOff) << ", " << s.symbolRate << " symbols/s";
    if (!s.isis.empty()) {
        out << ", ISIs";
        for (size_t i = 0; i < s.isis.size(); ++i)
            out << (i ? "," : " ") << s.isis[i];
        out << " (" << (s.isiTsPaths.empty() ? "built-in" : "files") << ") at " << std::llround(usefulTsRate(s))
            << " bit/s in all";
    } else if (!s.gse) {
        out << ", TS " << (s.tsPath.empty() ? "built-in" : s.tsPath) << " at " << std::llround(usefulTsRate(s)) << " bit/s";
    }
    return out.str();
}

ParseResult parseSiggenOptions(const QStringList& arguments, SiggenOptions& o, std::string& message)
{
    QCommandLineParser p;
    p.setApplicationDescription(kDescription);
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const StandardOptions standardOptions;
    const QCommandLineOption standard("standard", "dvbs2 or dvbs (default: dvbs2).", "dvbs2|dvbs", "dvbs2");
    const QCommandLineOption modcod("modcod",
                                    "DVB-S2 MODCOD by name, e.g. \"QPSK 1/2\" ... \"32APSK 9/10\", or number; a "
                                    "comma-separated list gives VCM, one frame each in turn (default: QPSK 1/2).",
                                    "name[,name...]", "QPSK 1/2");
    const QCommandLineOption frame("frame", "DVB-S2 FECFRAME size (default: normal).", "normal|short", "normal");
    const QCommandLineOption pilots("pilots", "DVB-S2 pilot blocks (default: off).", "on|off", "off");
    const QCommandLineOption rolloff("rolloff", "Roll-off of the RRC pulse (default: 0.35; DVB-S: 0.35 only).",
                                     "0.35|0.25|0.20", "0.35");
    const QCommandLineOption codeRate("code-rate", "DVB-S inner code rate (default: 1/2).",
                                      "1/2|2/3|3/4|5/6|7/8", "1/2");
    const QCommandLineOption gse("gse", "DVB-S2 generic continuous stream of GSE packets instead of a TS (default: TS).");
    const QCommandLineOption gsePdu("gse-pdu-size", "GSE: bytes per PDU (default: 1500).", "bytes", "1500");
    const QCommandLineOption gseLabel("gse-label-type",
                                      "GSE: 0 six-byte label, 1 three-byte, 2 none, 3 re-use (default: 0).",
                                      "0-3", "0");
    const QCommandLineOption ts("ts", "Transmit this TS file (default: the built-in TS source); with --isi, one per ISI "
                                      "in the same order.", "path");
    const QCommandLineOption isi("isi",
                                 "DVB-S2 multiple input streams: a stream of this ISI (0-255); repeat for each, their "
                                 "frames take turns (default: a single stream). Built-in streams are named by "
                                 "--service, one per ISI or one for all.",
                                 "n");
    const QCommandLineOption loop("loop", "Play the TS file again from its start when it ends (default: play it once, then "
                                          "dummy PL frames (DVB-S2) or null packets (DVB-S)).");
    const QCommandLineOption service("service",
                                     "Built-in TS: a service name; repeat for several services "
                                     "(default: TAVIREL TEST).",
                                     "name");
    const QCommandLineOption provider("provider",
                                      "Built-in TS: provider name; repeat to give one per service "
                                      "(default: TAVIREL).",
                                      "name");
    const QCommandLineOption payloadRate("payload-rate",
                                         "Built-in TS: bit/s of counter packets over all services "
                                         "(default: 80 % of the TS rate).",
                                         "bit/s", "0");
    const QCommandLineOption symbolRate("symbol-rate", "Symbol rate in symbols/s (default: 1000000).", "Hz",
                                        "1000000");
    const QCommandLineOption sampleRate("sample-rate",
                                        "Output sample rate in samples/s, at least (1 + roll-off) x symbol rate "
                                        "(default: 2000000).",
                                        "Hz", "2000000");
    const QCommandLineOption span("span", "RRC filter length in symbols (default: 16).", "symbols", "16");
    const QCommandLineOption offset("offset", "Carrier frequency offset in Hz (default: 0).", "Hz", "0");
    const QCommandLineOption phase("phase", "Carrier phase offset in degrees (default: 0).", "degrees", "0");
    const QCommandLineOption timing("timing-offset", "Symbol timing offset in symbols, -1 < t < 1 (default: 0).",
                                    "symbols", "0");
    const QCommandLineOption drift("drift", "Carrier drift in Hz per second from --offset on (default: 0).", "Hz/s", "0");
    const QCommandLineOption phaseNoise("phase-noise",
                                        "Carrier phase noise: a random walk of this rms step per symbol (default: 0).",
                                        "degrees", "0");
    const QCommandLineOption dropout("dropout",
                                     "The signal gone from START for SECONDS: silence, or the noise alone with "
                                     ":noise; repeat for several (default: none).",
                                     "start:seconds[:noise]");
    const QCommandLineOption clockPpm("sample-clock-ppm",
                                      "The receiver's sample clock this many ppm fast: the symbol rate appears that "
                                      "much lower (default: 0).",
                                      "ppm", "0");
    const QCommandLineOption esn0("esn0", "Add white Gaussian noise at this Es/N0 in dB (default: none).", "dB");
    const QCommandLineOption level("level",
                                   "Signal RMS as a fraction of full scale (default: 0.25).", "fraction", "0.25");
    const QCommandLineOption totalLevel("total-level",
                                        "Signal and noise RMS together as a fraction of full scale, as a radio's "
                                        "gain control would set them; instead of --level (default: not used).",
                                        "fraction");
    const QCommandLineOption format("format",
                                    "Sample format, interleaved I/Q: s8, s16 (little-endian), f32, or u8 "
                                    "(offset binary, s8 + 128) (default: s16).",
                                    "s8|s16|f32|u8", "s16");
    const QCommandLineOption seed("seed", "Seed of the noise generator (default: 1).", "N", "1");
    const QCommandLineOption output("output", "Write the samples to this file, or to stdout for '-' (this or --serve is "
                                    "required).", "path|-");
    const QCommandLineOption sigmf("sigmf", "Write a SigMF recording: the samples to PATH.sigmf-data and their "
                                   "description to PATH.sigmf-meta (--output PATH, with or without the ending).");
    const QCommandLineOption serve("serve",
                                   "Serve the samples over TCP: listen on HOST:PORT and stream to one client at "
                                   "a time (default: not served).",
                                   "host:port");
    const QCommandLineOption realtime("realtime", "Pace the output at the sample rate (default: as fast as possible).");
    const QCommandLineOption duration("duration", "Stop after this many seconds of signal (default: run forever).",
                                      "s");
    const QCommandLineOption frames("frames",
                                    "Stop after N PL frames (DVB-S2) or N TS packets (DVB-S) (default: run forever).",
                                    "N");
    const QCommandLineOption symbolsOut("symbols-out",
                                        "Also write the unshaped channel symbols (DVB-S2: the PL frames after PL "
                                        "scrambling; DVB-S: the QPSK symbols) as little-endian float32 I, Q "
                                        "(default: not written).",
                                        "path");
    const QCommandLineOption bbframesOut("bbframes-out",
                                         "Also write each DVB-S2 BBFRAME before BB scrambling (Kbch/8 bytes each) "
                                         "(default: not written).",
                                         "path");
    const QCommandLineOption band("band",
                                  "Compose a band: the --carrier signals, each at its Es/N0 over one noise floor "
                                  "(none: the floor alone); needs --duration; --total-level sets the whole band's "
                                  "level (default 0.25).");
    const QCommandLineOption carrier(
        "carrier",
        "With --band: one carrier, as KEY=VALUE pairs separated by ';', the keys being these options: "
        "standard, modcod, frame, pilots, rolloff, code-rate, symbol-rate, offset, esn0 (against the floor, "
        "default 10), service, provider, dropout, e.g. \"symbol-rate=125000;offset=-1.2e6;modcod=8PSK 2/3;"
        "esn0=9;service=ALPHA\". Repeat for each carrier.",
        "pairs");
    p.addOptions({band, carrier});
    p.addOptions({standardOptions.help, standardOptions.version, standard, modcod, frame, pilots, rolloff, codeRate, gse, gsePdu, gseLabel, ts, isi, loop,
                  service, provider, payloadRate, symbolRate, sampleRate, span, offset, phase, timing, drift, phaseNoise, dropout, clockPpm, esn0, level,
                  totalLevel, format, seed, output, sigmf, serve, realtime, duration, frames, symbolsOut, bbframesOut});

    const ParseResult parsed = parseToolCommandLine(p, standardOptions, arguments, "tavirel-siggen", message);
    if (parsed != ParseResult::Run)
        return parsed;
    auto bad = [&](const QCommandLineOption& opt, const QString& why) {
        message = "--" + opt.names().last().toStdString() + ": " + why.toStdString();
        return ParseResult::Error;
    };

    TxSettings& s = o.tx;
    const QString standardName = p.value(standard).toLower();
    if (standardName == "dvbs2" || standardName == "dvb-s2")
        s.standard = Standard::Dvbs2;
    else if (standardName == "dvbs" || standardName == "dvb-s")
        s.standard = Standard::Dvbs;
    else
        return bad(standard, "'" + p.value(standard) + "' is neither dvbs2 nor dvbs");

    s.modcods.clear();
    for (const QString& name : p.value(modcod).split(',', Qt::SkipEmptyParts)) {
        bool isNumber = false;
        const int number = name.trimmed().toInt(&isNumber);
        const int m = isNumber ? (number >= 0 && number <= 31 ? number : -1) : modcodFromName(name.toStdString());
        if (m < 0)
            return bad(modcod, "no MODCOD is named '" + name.trimmed() + "' (names such as \"QPSK 1/2\", "
                               "\"8PSK 2/3\", \"16APSK 3/4\", \"32APSK 9/10\")");
        s.modcods.push_back(m);
    }
    if (p.value(frame) == "normal")
        s.frame = FrameSize::Normal;
    else if (p.value(frame) == "short")
        s.frame = FrameSize::Short;
    else
        return bad(frame, "'" + p.value(frame) + "' is neither normal nor short");
    if (p.value(pilots) != "on" && p.value(pilots) != "off")
        return bad(pilots, "'" + p.value(pilots) + "' is neither on nor off");
    s.pilots = p.value(pilots) == "on";
    const QString ro = p.value(rolloff);
    if (ro == "0.35")
        s.rollOff = RollOff::R035;
    else if (ro == "0.25")
        s.rollOff = RollOff::R025;
    else if (ro == "0.20" || ro == "0.2")
        s.rollOff = RollOff::R020;
    else
        return bad(rolloff, "'" + ro + "' is not 0.35, 0.25 or 0.20");
    if (!dvbsRateFromName(p.value(codeRate).toStdString(), s.dvbsRate))
        return bad(codeRate, "'" + p.value(codeRate) + "' is not 1/2, 2/3, 3/4, 5/6 or 7/8");
    if (p.isSet(codeRate) && s.standard != Standard::Dvbs)
        return bad(codeRate, "is for DVB-S; DVB-S2 takes the rate from --modcod");
    s.gse = p.isSet(gse);
    bool ok = false;
    s.gseParams.pduSize = p.value(gsePdu).toInt(&ok);
    if (!ok)
        return bad(gsePdu, "'" + p.value(gsePdu) + "' is not a number");
    s.gseParams.labelType = p.value(gseLabel).toInt(&ok);
    if (!ok)
        return bad(gseLabel, "'" + p.value(gseLabel) + "' is not a number");

    for (const QString& n : p.values(isi)) {
        bool isNumber = false;
        const int value = n.toInt(&isNumber);
        if (!isNumber || value < 0 || value > 255)
            return bad(isi, "'" + n + "' is not 0 to 255");
        s.isis.push_back(value);
    }
    if (s.isis.empty()) {
        if (p.values(ts).size() > 1)
            return bad(ts, "is given once per ISI, with --isi");
        s.tsPath = p.value(ts).toStdString();
    } else {
        for (const QString& path : p.values(ts))
            s.isiTsPaths.push_back(path.toStdString());
    }
    s.tsLoop = p.isSet(loop);
    if (p.isSet(service)) {
        s.services.clear();
        for (const QString& n : p.values(service))
            s.services.push_back(n.toStdString());
    }
    if (p.isSet(provider)) {
        s.providers.clear();
        for (const QString& n : p.values(provider))
            s.providers.push_back(n.toStdString());
    }
    if (!parseDouble(p.value(payloadRate), s.payloadRate) || s.payloadRate < 0)
        return bad(payloadRate, "'" + p.value(payloadRate) + "' is not a bit rate");

    if (!parseRate(p.value(symbolRate), s.symbolRate))
        return bad(symbolRate, "'" + p.value(symbolRate) + "' is not a positive rate");
    if (!parseRate(p.value(sampleRate), s.sampleRate))
        return bad(sampleRate, "'" + p.value(sampleRate) + "' is not a positive rate");
    s.spanSymbols = p.value(span).toInt(&ok);
    if (!ok)
        return bad(span, "'" + p.value(span) + "' is not a number");
    if (!parseDouble(p.value(offset), s.frequencyOffset))
        return bad(offset, "'" + p.value(offset) + "' is not a frequency");
    if (!parseDouble(p.value(phase), s.phaseDegrees))
        return bad(phase, "'" + p.value(phase) + "' is not an angle");
    if (!parseDouble(p.value(timing), s.timingOffset))
        return bad(timing, "'" + p.value(timing) + "' is not a number");
    if (!parseDouble(p.value(drift), s.driftHzPerSecond))
        return bad(drift, "'" + p.value(drift) + "' is not a frequency per second");
    if (!parseDouble(p.value(phaseNoise), s.phaseNoiseDegrees) || s.phaseNoiseDegrees < 0 || s.phaseNoiseDegrees > 180)
        return bad(phaseNoise, "'" + p.value(phaseNoise) + "' is not an angle from 0 to 180 degrees");
    if (!parseDouble(p.value(clockPpm), s.sampleClockPpm) || std::fabs(s.sampleClockPpm) > 100000)
        return bad(clockPpm, "'" + p.value(clockPpm) + "' is not a clock error within ±100000 ppm");
    for (const QString& d : p.values(dropout)) {
        const QStringList parts = d.split(':');
        tx::Dropout gone;
        const bool shaped = (parts.size() == 2 || (parts.size() == 3 && parts[2] == "noise")) &&
                            parseDouble(parts[0], gone.start) && parseDouble(parts[1], gone.seconds) &&
                            gone.start >= 0 && gone.seconds > 0;
        if (!shaped)
            return bad(dropout, "'" + d + "' is not START:SECONDS or START:SECONDS:noise");
        gone.noise = parts.size() == 3;
        s.dropouts.push_back(gone);
    }
    if (p.isSet(esn0)) {
        s.noise = true;
        if (!parseDouble(p.value(esn0), s.esn0Db) || s.esn0Db < -30 || s.esn0Db > 100)
            return bad(esn0, "'" + p.value(esn0) + "' is not an Es/N0 from -30 to 100 dB");
    }
    if (!parseDouble(p.value(level), o.level) || o.level <= 0 || o.level > 1)
        return bad(level, "'" + p.value(level) + "' is not a fraction of full scale above 0 and at most 1");
    if (p.isSet(totalLevel)) {
        if (p.isSet(level))
            return bad(totalLevel, "give --level or --total-level, not both");
        if (!parseDouble(p.value(totalLevel), o.totalLevel) || o.totalLevel <= 0 || o.totalLevel > 1)
            return bad(totalLevel,
                       "'" + p.value(totalLevel) + "' is not a fraction of full scale above 0 and at most 1");
    }
    o.formatName = p.value(format).toStdString();
    if (!iqFormatFromName(o.formatName, o.format))
        return bad(format, "'" + p.value(format) + "' is not s8, s16, f32 or u8");
    s.seed = p.value(seed).toULongLong(&ok);
    if (!ok)
        return bad(seed, "'" + p.value(seed) + "' is not a whole number");

    o.outputPath = p.value(output).toStdString();
    o.servePath = p.value(serve).toStdString();
    if (o.outputPath.empty() == o.servePath.empty()) {
        message = o.outputPath.empty() ? "give --output PATH|- or --serve HOST:PORT"
                                       : "--output and --serve cannot be combined";
        return ParseResult::Error;
    }
    o.sigmf = p.isSet(sigmf);
    if (o.sigmf && (o.outputPath.empty() || o.outputPath == "-")) {
        message = "--sigmf writes files: give --output PATH";
        return ParseResult::Error;
    }
    if (o.sigmf)
        o.outputPath = sigmfDataPath(o.outputPath);
    if (!o.servePath.empty()) {
        std::string host;
        int port = 0;
        if (!TcpServerSink::parse(o.servePath, host, port, message))
            return ParseResult::Error;
    }
    o.realtime = p.isSet(realtime);
    if (p.isSet(duration)) {
        if (!parseDouble(p.value(duration), o.durationSeconds) || o.durationSeconds <= 0)
            return bad(duration, "'" + p.value(duration) + "' is not a positive number of seconds");
    }
    if (p.isSet(frames)) {
        o.frames = p.value(frames).toLongLong(&ok);
        if (!ok || o.frames <= 0)
            return bad(frames, "'" + p.value(frames) + "' is not a positive whole number");
    }
    o.symbolsPath = p.value(symbolsOut).toStdString();
    o.bbframesPath = p.value(bbframesOut).toStdString();
    if (!o.bbframesPath.empty() && s.standard != Standard::Dvbs2)
        return bad(bbframesOut, "DVB-S has no BBFRAMEs");

    o.band = p.isSet(band);
    if (!o.band && p.isSet(carrier))
        return bad(carrier, "is a carrier of a band: give --band");
    if (o.band) {
        if (o.durationSeconds <= 0)
            return bad(band, "needs --duration");
        if (p.isSet(frames) || !o.symbolsPath.empty() || !o.bbframesPath.empty() || p.isSet(level))
            return bad(band, "takes --duration and --total-level, not --frames, --level or the symbol and BBFRAME outputs");
        for (const QString& description : p.values(carrier)) {
            tx::BandCarrier c;
            std::string why;
            if (!parseBandCarrier(description, s.sampleRate, c, why))
                return bad(carrier, "'" + description + "': " + QString::fromStdString(why));
            o.carriers.push_back(c);
        }
        return ParseResult::Run;
    }

    const std::string problem = validateSettings(s);
    if (!problem.empty()) {
        message = problem;
        return ParseResult::Error;
    }
    return ParseResult::Run;
}

bool parseBandCarrier(const QString& description, int64_t sampleRate, tx::BandCarrier& carrier, std::string& message)
{
    static const QStringList keys = {"standard", "modcod", "frame",   "pilots",  "rolloff", "code-rate", "symbol-rate",
                                     "offset",   "esn0",   "service", "provider", "dropout"};
    // As the transmitter's own options, for one carrier at the band's rate.
    QStringList arguments = {"tavirel-siggen", "--output", "-", "--sample-rate", QString::number(sampleRate)};
    bool esn0Given = false;
    for (const QString& pair : description.split(';', Qt::SkipEmptyParts)) {
        const int equals = pair.indexOf('=');
        const QString key = pair.left(equals).trimmed();
        if (equals < 0 || !keys.contains(key)) {
            message = "'" + pair.trimmed().toStdString() + "' is not KEY=VALUE with a key of " +
                      keys.join(", ").toStdString();
            return false;
        }
        esn0Given = esn0Given || key == "esn0";
        arguments << "--" + key << pair.mid(equals + 1).trimmed();
    }
    SiggenOptions one;
    if (parseSiggenOptions(arguments, one, message) != ParseResult::Run)
        return false;
    carrier.settings = one.tx;
    carrier.esn0Db = esn0Given ? one.tx.esn0Db : 10.0;
    carrier.settings.noise = false;
    return true;
}
