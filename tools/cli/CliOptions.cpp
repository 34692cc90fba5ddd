#include "CliOptions.h"

#include "devices/SigmfMetadata.h"

#include "RadioSelection.h"

#include <QCommandLineParser>

#include <cmath>

namespace {

bool parseHostPort(const QString& text, std::string& host, int& port)
{
    const int colon = text.lastIndexOf(':');
    if (colon <= 0)
        return false;
    bool ok = false;
    port = text.mid(colon + 1).toInt(&ok);
    host = text.left(colon).toStdString();
    if (!host.empty() && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return ok && port > 0 && port < 65536;
}

// A finite number, or ok = false ("nan", "inf" and overflowing values are
// not numbers here).
double number(const QString& text, bool& ok)
{
    const double v = text.toDouble(&ok);
    ok = ok && std::isfinite(v);
    return ok ? v : 0.0;
}

std::string bad(const QString& option, const QString& value, const std::string& why)
{
    return "--" + option.toStdString() + " " + value.toStdString() + ": " + why;
}

} // namespace

bool CliOptions::stdoutCarriesTs() const
{
    for (const OutputTarget& o : outputs)
        if (o.kind == OutputKind::Stdout)
            return true;
    return false;
}

ParseResult parseCliOptions(const QStringList& arguments, CliOptions& o, std::string& message)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        "Headless DVB-S2 / DVB-S receiver: IQ samples in, transport stream (or GSE) out.\n"
        "Exit codes: 0 done, 1 bad options, 2 the input cannot be opened, 3 an output failed.");
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Every receiver default is the tuned profile's, printed exactly.
    const ReceiverSettings defaults = settingsFor(ReceiverProfile::Tuned);
    auto onOff = [](bool on) { return QString(on ? "on" : "off"); };
    auto exact = [](double v) { return QString::number(v, 'g', 12); };
    const QString sampleRateDefault = QString::number(defaults.sampleRate);
    const QString symbolRateDefault = QString::number(defaults.symbolRate);
    const QString standardDefault = defaults.dvbS2() ? "dvbs2" : "dvbs";
    const QString codeRateDefault = codeRateText(defaults.codeRate);
    const QString offsetDefault = exact(defaults.offsetHz);
    const QString spectrumDefault = defaults.spectrumAutomatic ? "auto" : defaults.spectrumInverted ? "standard" : "mirrored";
    const QString rollOffDefault = QString::number(double(defaults.rollOff), 'g', 6);
    const QString tapsDefault = QString::number(defaults.filterTaps);
    const QString ldpcThreadsDefault = QString::number(defaults.ldpcThreads);
    const QString ldpcDecoderDefault = defaults.ldpcDecoder == LdpcDecoderChoice::Scaled ? "scaled" : "standard";
    const QString carrierLoopDefault = onOff(defaults.carrierLoop);
    const QString kpDefault = exact(double(defaults.carrierKp));
    const QString kiDefault = exact(double(defaults.carrierKi));
    const QString ki8pskDefault = exact(double(defaults.carrierKi8psk));
    const QString equalizerDefault = QString(equalizerModeName(defaults.equalizer));
    const QString rsDefault = onOff(defaults.reedSolomon);
    const QCommandLineOption input("input",
        "Samples from tcp:HOST:PORT (an address or a host name), file:PATH, - (stdin), or a radio: KIND:N or "
        "KIND:TEXT (rtlsdr, hackrf, lime, sdrplay, airspy, pluto, soapy; N counts from 0 among that kind, TEXT "
        "is part of its listing such as a serial number, or driver=NAME for soapy).", "source");
    const QCommandLineOption listDevices("list-devices", "List the radios and inputs that are attached, and exit.");
    const QCommandLineOption frequency("frequency", "Radio: tuning frequency in Hz. Default: as devices.ini has it. With --scan on a recording: the frequency at its centre.", "hz");
    const QCommandLineOption gain("gain", "Radio: gain in the device's own units. Default: as devices.ini has it.", "n");
    const QCommandLineOption format("format", "Sample format: s8, s16, f32 or u8 (offset binary). Default: s16.", "fmt", "s16");
    const QCommandLineOption sampleRate("sample-rate",
        "Input sample rate in Hz, 1000 to 200000000; a radio runs at its nearest listed rate. Default: " + sampleRateDefault + ".", "hz",
        sampleRateDefault);
    const QCommandLineOption symbolRate("symbol-rate", "Symbol rate in symbols/s, 1000 up to sample rate / (1 + roll-off), or auto: measured from the carrier at the tuned frequency. Default: " + symbolRateDefault + ".", "syms", symbolRateDefault);
    const QCommandLineOption standard("standard", "dvbs2 or dvbs. Default: " + standardDefault + ".", "std", standardDefault);
    const QCommandLineOption codeRate("code-rate", "DVB-S code rate: 1/2, 2/3, 3/4, 5/6 or 7/8. Default: " + codeRateDefault + ".", "rate", codeRateDefault);
    const QCommandLineOption offset("offset", "Carrier offset in Hz moved to zero by the mixer, within ± half the sample rate. Default: " + offsetDefault + ".", "hz", offsetDefault);
    const QCommandLineOption spectrum("spectrum",
                                      "Spectrum sense: auto (the standard's, or its mirror image when the DVB-S2 "
                                      "frames show it), standard, or mirrored (as the mixer of a high-side "
                                      "oscillator leaves it). Default: " + spectrumDefault + ". The older names: inverted for standard, "
                                      "normal for mirrored.",
                                      "sense", spectrumDefault);
    const QCommandLineOption rolloff("rolloff", "Matched-filter roll-off, 0.05 to 1 (DVB-S2 follows the BBHEADER). Default: " + rollOffDefault + ".", "r", rollOffDefault);
    const QCommandLineOption taps("taps", "Matched-filter taps, a multiple of 16 from 16 to 256. Default: " + tapsDefault + ".", "n", tapsDefault);
    const QCommandLineOption ldpcThreads("ldpc-threads", "LDPC decoding threads, 0 to 64; 0: hardware threads / 2 + 1. Default: " + ldpcThreadsDefault + ".", "n", ldpcThreadsDefault);
    const QCommandLineOption ldpcDecoder("ldpc-decoder",
        "LDPC decoding: scaled (channel LLRs scaled by the measured signal quality) or standard. Default: " + ldpcDecoderDefault + ".",
        "kind", ldpcDecoderDefault);
    const QCommandLineOption carrierLoop("carrier-loop", "Fine carrier loop: on or off. Default: " + carrierLoopDefault + ".", "on|off", carrierLoopDefault);
    const QCommandLineOption carrierKp("carrier-kp", "Carrier loop proportional gain Kp, above 0 up to 16. Default: " + kpDefault + ".",
                                       "kp", kpDefault);
    const QCommandLineOption carrierKi("carrier-ki", "Carrier loop integral gain Ki, 0 to 1. Default: " + kiDefault + ".", "ki",
                                       kiDefault);
    const QCommandLineOption carrierKi8psk("carrier-ki-8psk",
        "Carrier loop integral gain on 8PSK data symbols, 0 to 1; -1: as --carrier-ki. Default: " + ki8pskDefault + ".",
        "ki", ki8pskDefault);
    const QCommandLineOption equalizer("equalizer", "Equalizer: off, cma or dd. Default: " + equalizerDefault + ".", "mode", equalizerDefault);
    const QCommandLineOption derotate("derotate", "DVB-S constellation derotation 0..255. Default: found automatically.", "v");
    const QCommandLineOption skip("skip",
        "DVB-S soft values dropped at the start (presses of the skip button), 0..7. Default: found automatically.", "n");
    const QCommandLineOption isi("isi",
        "DVB-S2 multiple input streams: pass the stream of this ISI, 0 to 255. Default: the first one seen.", "n");
    const QCommandLineOption rs("rs", "DVB-S Reed-Solomon decoding: on or off. Default: " + rsDefault + ".", "on|off", rsDefault);
    const QCommandLineOption output("output",
        "Transport stream to udp:HOST:PORT, tcp-listen:HOST:PORT, file:PATH or - (stdout); repeatable, each target once.", "sink");
    const QCommandLineOption record("record",
        "Record symbols:PATH or samples:PATH; once for each kind. Samples to NAME.sigmf-data (or .sigmf-meta) are "
        "a SigMF recording, described in NAME.sigmf-meta.", "what:path");
    const QCommandLineOption statusInterval("status-interval", "Seconds between status lines, 0.05 to 3600; 0: none. Default: 1.", "s", "1");
    const QCommandLineOption duration("duration", "Stop after this many seconds, up to 1000000; 0: when the input ends. Default: 0.", "s", "0");
    const QCommandLineOption json("json", "Status and summary as one JSON object per line.");
    const StandardOptions standardOptions;
    const QCommandLineOption stageTimes("stage-times", "After the summary, the CPU time of every stage per symbol.");
    const QCommandLineOption verbose("verbose", "The receiver's log (every stage's messages) on standard error.");
    const QCommandLineOption log("log", "The receiver's log to this file.", "file");
    const QCommandLineOption quiet("quiet", "Only errors and the summary.");
    const QCommandLineOption statusUdp("status-udp",
        "Send the start, every status and the summary as JSON, one UDP datagram each, to HOST:PORT.", "host:port");
    const QCommandLineOption scan("scan",
        "List the carriers in the input's band (frequency, measured symbol rate, Es/N0, and what each carries), "
        "then exit; writes no stream.");
    const QCommandLineOption lnb("lnb",
        "The LNB's local oscillator in Hz, added to the frequencies the scan reports (negative for a high-side "
        "oscillator). Default: 0.", "hz", "0");
    const QCommandLineOption scanRange("scan-range",
        "With a radio: scan from START to STOP Hz, the tuner stepped by half the sample rate, and list the "
        "carriers of the whole range (implies --scan).", "start:stop");
    p.addOptions({scan, scanRange, lnb});
    p.addOptions({standardOptions.help, standardOptions.version, input, listDevices, frequency, gain, format, sampleRate, symbolRate, standard, codeRate, offset, spectrum, rolloff,
                  taps, ldpcThreads, ldpcDecoder, carrierLoop, carrierKp, carrierKi, carrierKi8psk, equalizer, derotate, skip, rs, isi, output, record, statusInterval,
                  duration, json, stageTimes, verbose, log, quiet, statusUdp});
    const ParseResult parsed = parseToolCommandLine(p, standardOptions, arguments, "tavirel-cli", message);
    if (parsed != ParseResult::Run)
        return parsed;

    ReceiverSettings& r = o.receiver;
    o.scan = p.isSet(scan) || p.isSet(scanRange);
    {
        bool valid = false;
        o.lnbHz = std::round(number(p.value(lnb), valid));
        if (!valid || std::fabs(o.lnbHz) > 100e9) {
            message = bad("lnb", p.value(lnb), "expected a frequency in Hz");
            return ParseResult::Error;
        }
    }
    if (o.scan && (p.isSet(output) || p.isSet(record))) {
        message = "--scan lists the carriers and writes no stream: leave out --output and --record";
        return ParseResult::Error;
    }
    o.listDevices = p.isSet(listDevices);
    if (o.listDevices)
        return ParseResult::Run;
    if (!p.isSet(input)) {
        message = "--input is required (tcp:HOST:PORT, file:PATH, - or a radio such as rtlsdr:0)";
        return ParseResult::Error;
    }
    const QString in = p.value(input);
    o.inputText = in.toStdString();
    if (in == "-") {
        o.input = InputKind::Stdin;
    } else if (in.startsWith("file:") && in.size() > 5) {
        o.input = InputKind::File;
        o.inputPath = in.mid(5).toStdString();
        // A SigMF recording, named by its data or its metadata file: read
        // (in main) after the options, which win where both say.
        if (isSigmfPath(o.inputPath)) {
            o.sigmfMetaPath = sigmfMetaPath(o.inputPath);
            o.inputPath = sigmfDataPath(o.inputPath);
        }
    } else if (in.startsWith("tcp:") && parseHostPort(in.mid(4), o.inputHost, o.inputPort)) {
        o.input = InputKind::Tcp;
    } else if (namesRadio(in.toStdString()) && in.indexOf(':') + 1 < in.size()) {
        o.input = InputKind::Radio;
        o.radioChoice = in.toStdString();
    } else {
        message = bad("input", in, "expected tcp:HOST:PORT, file:PATH, - or a radio such as rtlsdr:0");
        return ParseResult::Error;
    }
    bool valid = false;
    if (p.isSet(frequency)) {
        const double hz = std::round(number(p.value(frequency), valid));
        if (!valid || !(hz >= 0 && hz <= 20e9)) {
            message = bad("frequency", p.value(frequency), "expected 0 to 20000000000 Hz");
            return ParseResult::Error;
        }
        o.frequency = uint64_t(hz);
    }
    if (p.isSet(gain)) {
        const double g = number(p.value(gain), valid);
        if (!valid || g != std::round(g) || std::fabs(g) > 100000) {
            message = bad("gain", p.value(gain), "expected a whole number");
            return ParseResult::Error;
        }
        o.gain = int(g);
    }
    if (p.isSet(scanRange)) {
        const QStringList ends = p.value(scanRange).split(':');
        bool startValid = false, stopValid = false;
        const double start = ends.size() == 2 ? number(ends[0], startValid) : 0;
        const double stop = ends.size() == 2 ? number(ends[1], stopValid) : 0;
        if (!startValid || !stopValid || start < 0 || stop > 100e9 || stop <= start) {
            message = bad("scan-range", p.value(scanRange), "expected START:STOP in Hz, START below STOP");
            return ParseResult::Error;
        }
        if (o.input != InputKind::Radio) {
            message = "--scan-range steps a radio's tuner: it goes with a radio input (rtlsdr:0 …)";
            return ParseResult::Error;
        }
        if (o.frequency) {
            message = "--scan-range tunes the radio itself: leave out --frequency";
            return ParseResult::Error;
        }
        o.scanRange = std::make_pair(uint64_t(std::llround(start)), uint64_t(std::llround(stop)));
    }
    // A scan of a recording may be told where it was recorded.
    if (((o.frequency && !o.scan) || o.gain) && o.input != InputKind::Radio) {
        message = std::string(o.frequency && !o.scan ? "--frequency" : "--gain") + " goes with a radio input (rtlsdr:0 …)";
        return ParseResult::Error;
    }

    const QString f = p.value(format);
    if (f == "s8") o.format = IqFormat::S8;
    else if (f == "s16") o.format = IqFormat::S16;
    else if (f == "f32") o.format = IqFormat::F32;
    else if (f == "u8") o.format = IqFormat::U8;
    else {
        message = bad("format", f, "expected s8, s16, f32 or u8");
        return ParseResult::Error;
    }
    if (o.input == InputKind::Tcp && o.format == IqFormat::U8) {
        message = bad("format", f, "a TCP input carries s8, s16 or f32");
        return ParseResult::Error;
    }

    bool ok = false;
    // Every number is finite and in its range as it will be used: rates in
    // whole Hz, times in whole milliseconds.
    const double fs = std::round(number(p.value(sampleRate), ok));
    if (!ok || !(fs >= 1000 && fs <= 200e6)) {
        message = bad("sample-rate", p.value(sampleRate), "expected 1000 to 200000000 Hz");
        return ParseResult::Error;
    }
    r.sampleRate = uint64_t(fs);
    o.symbolRateAuto = p.value(symbolRate) == "auto";
    // Until it is measured, a rate the sample rate carries.
    const double rs_ = o.symbolRateAuto ? std::min(double(defaults.symbolRate), double(maxSymbolRate(r.sampleRate, 0, 1.0f)))
                                        : std::round(number(p.value(symbolRate), ok));
    if (o.symbolRateAuto)
        ok = true;
    if (!ok || !(rs_ >= kMinSymbolRate)) {
        message = bad("symbol-rate", p.value(symbolRate), "expected at least " + std::to_string(kMinSymbolRate) + " symbols/s");
        return ParseResult::Error;
    }
    // Timing recovery needs more than one sample per symbol (the roll-off
    // narrows this further below).
    if (rs_ >= fs) {
        message = bad("symbol-rate", p.value(symbolRate), "must be below the sample rate");
        return ParseResult::Error;
    }
    r.symbolRate = int32_t(rs_);

    const QString st = p.value(standard);
    if (st != "dvbs2" && st != "dvbs") {
        message = bad("standard", st, "expected dvbs2 or dvbs");
        return ParseResult::Error;
    }
    r.standard = st == "dvbs2" ? Standard::DvbS2 : Standard::DvbS;
    const QString cr = p.value(codeRate);
    const std::optional<CodeRate> rate = codeRateFromText(cr.toStdString());
    if (!rate) {
        message = bad("code-rate", cr, "expected 1/2, 2/3, 3/4, 5/6 or 7/8");
        return ParseResult::Error;
    }
    r.codeRate = *rate;
    if (p.isSet(isi)) {
        r.inputStream = p.value(isi).toInt(&ok);
        if (!ok || r.inputStream < 0 || r.inputStream > 255) {
            message = bad("isi", p.value(isi), "expected 0 to 255");
            return ParseResult::Error;
        }
    }

    r.offsetHz = number(p.value(offset), ok);
    if (!ok || !(std::fabs(r.offsetHz) <= fs / 2)) {
        message = bad("offset", p.value(offset), "expected a frequency within ± half the sample rate");
        return ParseResult::Error;
    }
    // The demodulator's flag is named for the turn it takes back: set, it
    // receives the standard's sense.
    const QString sp = p.value(spectrum);
    if (sp == "auto") {
        r.spectrumInverted = true;
        r.spectrumAutomatic = true;
    } else if (sp == "standard" || sp == "inverted") {
        r.spectrumInverted = true;
        r.spectrumAutomatic = false;
    } else if (sp == "mirrored" || sp == "normal") {
        r.spectrumInverted = false;
        r.spectrumAutomatic = false;
    } else {
        message = bad("spectrum", sp, "expected auto, standard or mirrored");
        return ParseResult::Error;
    }
    r.rollOff = float(number(p.value(rolloff), ok));
    if (!ok || !(r.rollOff >= 0.05f && r.rollOff <= 1.0f)) {
        message = bad("rolloff", p.value(rolloff), "expected 0.05 to 1");
        return ParseResult::Error;
    }
    o.sampleRateGiven = p.isSet(sampleRate);
    o.formatGiven = p.isSet(format);
    // The samples must carry the signal's whole band (a SigMF recording's
    // rate is checked once its metadata has been read).
    const int32_t highest = maxSymbolRate(r.sampleRate, 0, r.rollOff);
    if (r.symbolRate > highest && (o.sigmfMetaPath.empty() || o.sampleRateGiven)) {
        message = bad("symbol-rate", p.value(symbolRate),
                      "above " + std::to_string(highest) + " symbols/s, the highest the sample rate " +
                          std::to_string(r.sampleRate) + " Hz carries at roll-off " + p.value(rolloff).toStdString());
        return ParseResult::Error;
    }
    // What the matched filter runs: any other count would switch it off.
    r.filterTaps = p.value(taps).toInt(&ok);
    if (!ok || r.filterTaps < 16 || r.filterTaps > 256 || r.filterTaps % 16 != 0) {
        message = bad("taps", p.value(taps), "expected a multiple of 16 from 16 to 256");
        return ParseResult::Error;
    }
    r.ldpcThreads = p.value(ldpcThreads).toInt(&ok);
    if (!ok || r.ldpcThreads < 0 || r.ldpcThreads > 64) {
        message = bad("ldpc-threads", p.value(ldpcThreads), "expected 0 to 64");
        return ParseResult::Error;
    }
    if (!parseLdpcDecoder(p.value(ldpcDecoder).toStdString(), r.ldpcDecoder)) {
        message = bad("ldpc-decoder", p.value(ldpcDecoder), "expected scaled or standard");
        return ParseResult::Error;
    }
    const QString cl = p.value(carrierLoop);
    if (cl != "on" && cl != "off") {
        message = bad("carrier-loop", cl, "expected on or off");
        return ParseResult::Error;
    }
    r.carrierLoop = cl == "on";
    r.carrierKp = float(number(p.value(carrierKp), ok));
    if (!ok || !(r.carrierKp > 0 && r.carrierKp <= 16)) {
        message = bad("carrier-kp", p.value(carrierKp), "expected above 0, up to 16");
        return ParseResult::Error;
    }
    r.carrierKi = float(number(p.value(carrierKi), ok));
    if (!ok || !(r.carrierKi >= 0 && r.carrierKi <= 1)) {
        message = bad("carrier-ki", p.value(carrierKi), "expected 0 to 1");
        return ParseResult::Error;
    }
    r.carrierKi8psk = float(number(p.value(carrierKi8psk), ok));
    if (!ok || !((r.carrierKi8psk >= 0 && r.carrierKi8psk <= 1) || r.carrierKi8psk == -1)) {
        message = bad("carrier-ki-8psk", p.value(carrierKi8psk), "expected 0 to 1, or -1");
        return ParseResult::Error;
    }
    const QString eq = p.value(equalizer);
    bool known = false;
    for (EqualizerMode m : {EqualizerMode::Off, EqualizerMode::ConstantModulus, EqualizerMode::DecisionDirected})
        if (eq == equalizerModeName(m)) {
            r.equalizer = m;
            known = true;
        }
    if (!known) {
        message = bad("equalizer", eq, "expected off, cma or dd");
        return ParseResult::Error;
    }
    // Either given: the alignment is the one given (0 for the other);
    // neither: searched.
    if (p.isSet(derotate)) {
        r.alignment.automatic = false;
        r.alignment.derotation = p.value(derotate).toInt(&ok);
        if (!ok || r.alignment.derotation < 0 || r.alignment.derotation > 255) {
            message = bad("derotate", p.value(derotate), "expected 0 to 255");
            return ParseResult::Error;
        }
    }
    if (p.isSet(skip)) {
        r.alignment.automatic = false;
        r.alignment.skip = p.value(skip).toInt(&ok);
        if (!ok || r.alignment.skip < 0 || r.alignment.skip > 7) {
            message = bad("skip", p.value(skip), "expected 0 to 7");
            return ParseResult::Error;
        }
    }
    const QString rsv = p.value(rs);
    if (rsv != "on" && rsv != "off") {
        message = bad("rs", rsv, "expected on or off");
        return ParseResult::Error;
    }
    r.reedSolomon = rsv == "on";

    for (const QString& out : p.values(output)) {
        OutputTarget t;
        t.text = out.toStdString();
        if (out == "-") {
            t.kind = OutputKind::Stdout;
        } else if (out.startsWith("file:") && out.size() > 5) {
            t.kind = OutputKind::File;
            t.path = out.mid(5).toStdString();
        } else if (out.startsWith("udp:") && parseHostPort(out.mid(4), t.host, t.port)) {
            t.kind = OutputKind::Udp;
        } else if (out.startsWith("tcp-listen:") && parseHostPort(out.mid(11), t.host, t.port)) {
            t.kind = OutputKind::TcpListen;
        } else {
            message = bad("output", out, "expected udp:HOST:PORT, tcp-listen:HOST:PORT, file:PATH or -");
            return ParseResult::Error;
        }
        o.outputs.push_back(t);
    }
    // One recording of each kind: both kinds may be recorded at once, a
    // second of the same kind would leave one of the two files empty.
    for (const QString& rec : p.values(record)) {
        const int colon = rec.indexOf(':');
        const QString kind = rec.left(colon);
        if (colon < 0 || (kind != "symbols" && kind != "samples") || rec.size() == colon + 1) {
            message = bad("record", rec, "expected symbols:PATH or samples:PATH");
            return ParseResult::Error;
        }
        RecordTarget t{kind.toStdString(), rec.mid(colon + 1).toStdString()};
        for (const RecordTarget& earlier : o.recordings)
            if (earlier.kind == t.kind) {
                message = bad("record", rec, "a " + t.kind + " recording is already asked for (--record " + earlier.kind +
                                                 ":" + earlier.path + "); one recording of each kind");
                return ParseResult::Error;
            }
        // Samples named as a SigMF recording: the data file, with its
        // description written beside it at the end.
        if (t.kind == "samples" && isSigmfPath(t.path)) {
            t.path = sigmfDataPath(t.path);
            t.sigmf = true;
        }
        o.recordings.push_back(t);
    }
    const double given = number(p.value(statusInterval), ok);
    const double interval = std::round(given * 1000) / 1000;
    if (!ok || !(given == 0 || (interval >= 0.05 && interval <= 3600))) {
        message = bad("status-interval", p.value(statusInterval), "expected 0 (none) or 0.05 to 3600 seconds");
        return ParseResult::Error;
    }
    o.statusInterval = interval;
    const double seconds = std::round(number(p.value(duration), ok) * 1000) / 1000;
    if (!ok || !(seconds >= 0 && seconds <= 1e6)) {
        message = bad("duration", p.value(duration), "expected 0 (until the input ends) to 1000000 seconds");
        return ParseResult::Error;
    }
    o.duration = seconds;
    o.json = p.isSet(json);
    o.stageTimes = p.isSet(stageTimes);
    o.verbose = p.isSet(verbose);
    o.logPath = p.value(log).toStdString();
    o.quiet = p.isSet(quiet);
    if (p.isSet(log) && o.logPath.empty()) {
        message = "--log: expected a file name";
        return ParseResult::Error;
    }
    if (o.verbose && p.isSet(log)) {
        message = "--verbose and --log: the log goes to standard error or to a file, choose one";
        return ParseResult::Error;
    }
    if (p.isSet(statusUdp) && !parseHostPort(p.value(statusUdp), o.statusUdpHost, o.statusUdpPort)) {
        message = bad("status-udp", p.value(statusUdp), "expected HOST:PORT");
        return ParseResult::Error;
    }
    if (o.verbose && o.quiet) {
        message = "--verbose and --quiet cannot be combined";
        return ParseResult::Error;
    }
    return ParseResult::Run;
}
