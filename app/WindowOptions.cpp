#include "app/WindowOptions.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>

#include <cmath>
#include <cstring>

namespace {

std::string bad(const char* option, const QString& value, const std::string& why)
{
    return std::string("--") + option + " " + value.toStdString() + ": " + why;
}

} // namespace

bool wantsHelp(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    return false;
}

ParseResult parseWindowOptions(const QStringList& arguments, WindowOptions& o, std::string& message)
{
    QCommandLineParser p;
    p.setApplicationDescription("Tavirel: DVB-S and DVB-S2 receiver. The window; tavirel-cli is the same receiver without it.");
    const StandardOptions standard;
    const QCommandLineOption tcp("tcp", "Connect the TCP input at start to HOST:PORT (an address or a host name), without the dialog.", "host:port");
    const QCommandLineOption format("format", "With --tcp: sample format s8, s16 or f32. Default: s16.", "fmt", "s16");
    const QCommandLineOption sampleRate("sample-rate", "With --tcp: sample rate in Hz, 100000 to 100000000. Default: 2000000.", "hz", "2000000");
    const QCommandLineOption symbolRate("symbol-rate", "Symbol rate in symbols/s to start with, or auto (measured from the carrier the receiver is tuned to). Default: 1000000.", "syms");
    const QCommandLineOption standardOpt("standard", "dvbs2 or dvbs to start with. Default: dvbs2.", "std");
    const QCommandLineOption carrierLoop(
        "carrier-loop",
        QString("The fine carrier loop at start: on or off. Default: %1.").arg(settingsFor(kWindowProfile).carrierLoop ? "on" : "off"),
        "on|off");
    const QCommandLineOption record("record", "Record from the start: [ts:|symbols:|samples:]PATH (ts: the transport stream, the default; symbols: the demodulator's input; samples: the device's samples).", "what:path");
    const QCommandLineOption noNotes("no-release-notes", "Do not show the release notes at start.");
    const QCommandLineOption screenshot("screenshot", "Grab the window into this PNG file before quitting (with --quit-after).", "path");
    const QCommandLineOption quitAfter("quit-after", "Quit through the normal shutdown after this many seconds, up to 86400.", "s");
    p.addOptions({standard.help, standard.version, tcp, format, sampleRate, symbolRate, standardOpt, carrierLoop, record, noNotes, screenshot,
                  quitAfter});
    const ParseResult parsed = parseToolCommandLine(p, standard, arguments, "tavirel", message);
    if (parsed != ParseResult::Run)
        return parsed;

    o.releaseNotes = !p.isSet(noNotes);
    bool ok = false;
    if (p.isSet(tcp)) {
        const QString text = p.value(tcp);
        const int colon = text.lastIndexOf(':');
        TcpInputSettings s;
        s.port = colon > 0 ? text.mid(colon + 1).toInt(&ok) : 0;
        QString host = colon > 0 ? text.left(colon) : QString();
        if (host.startsWith('[') && host.endsWith(']'))
            host = host.mid(1, host.size() - 2);
        if (!ok || s.port < 1 || s.port > 65535 || host.isEmpty()) {
            message = bad("tcp", text, "expected HOST:PORT");
            return ParseResult::Error;
        }
        if (QHostAddress(host).isNull()) {
            const QHostInfo info = QHostInfo::fromName(host);
            if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
                message = bad("tcp", text, "cannot resolve '" + host.toStdString() + "'");
                return ParseResult::Error;
            }
            QHostAddress chosen = info.addresses().first();
            for (const QHostAddress& a : info.addresses())
                if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                    chosen = a;
                    break;
                }
            host = chosen.toString();
        }
        s.address = host;
        IqFormat f;
        if (!iqFormatFromName(p.value(format).toStdString(), f) || f == IqFormat::U8) {
            message = bad("format", p.value(format), "expected s8, s16 or f32");
            return ParseResult::Error;
        }
        s.format = f;
        const double rate = p.value(sampleRate).toDouble(&ok);
        if (!ok || !std::isfinite(rate) || rate < 100000 || rate > 100e6) {
            message = bad("sample-rate", p.value(sampleRate), "expected 100000 to 100000000 Hz");
            return ParseResult::Error;
        }
        s.bandwidthMHz = std::round(rate) / 1e6;
        o.tcp = s;
    }
    if (p.isSet(symbolRate) && p.value(symbolRate) == "auto") {
        o.symbolRateAuto = true;
    } else if (p.isSet(symbolRate)) {
        const double rate = p.value(symbolRate).toDouble(&ok);
        if (!ok || !std::isfinite(rate) || rate < 1000 || rate > 100e6) {
            message = bad("symbol-rate", p.value(symbolRate), "expected 1000 to 100000000 symbols/s, or auto");
            return ParseResult::Error;
        }
        o.symbolRate = int32_t(std::lround(rate));
    }
    if (p.isSet(standardOpt)) {
        const QString st = p.value(standardOpt);
        if (st != "dvbs2" && st != "dvbs") {
            message = bad("standard", st, "expected dvbs2 or dvbs");
            return ParseResult::Error;
        }
        o.standard = st == "dvbs2" ? Standard::DvbS2 : Standard::DvbS;
    }
    if (p.isSet(carrierLoop)) {
        const QString on = p.value(carrierLoop);
        if (on != "on" && on != "off") {
            message = bad("carrier-loop", on, "expected on or off");
            return ParseResult::Error;
        }
        o.carrierLoop = on == "on";
    }
    if (p.values(record).size() > 1) {
        // The window has one recording (the Record button's): a second would
        // be dropped without a word.
        message = bad("record", p.values(record).at(1),
                      "the window makes one recording; --record " + p.values(record).at(0).toStdString() +
                          " is already asked for");
        return ParseResult::Error;
    }
    if (p.isSet(record)) {
        const QString text = p.value(record);
        o.recordType = RecordType::TransportStream;
        o.recordPath = text;
        const int colon = text.indexOf(':');
        const QString kind = colon > 0 ? text.left(colon) : QString();
        if (kind == "ts" || kind == "symbols" || kind == "samples") {
            o.recordType = kind == "ts" ? RecordType::TransportStream
                           : kind == "symbols" ? RecordType::Symbols
                                               : RecordType::Samples;
            o.recordPath = text.mid(colon + 1);
        }
        if (o.recordPath.isEmpty()) {
            message = bad("record", text, "expected [ts:|symbols:|samples:]PATH");
            return ParseResult::Error;
        }
    }
    if (p.isSet(quitAfter)) {
        o.quitAfter = p.value(quitAfter).toDouble(&ok);
        if (!ok || !std::isfinite(o.quitAfter) || o.quitAfter <= 0 || o.quitAfter > 86400) {
            message = bad("quit-after", p.value(quitAfter), "expected above 0, up to 86400 seconds");
            return ParseResult::Error;
        }
    }
    o.screenshotPath = p.value(screenshot);
    if (!o.screenshotPath.isEmpty() && o.quitAfter <= 0) {
        message = "--screenshot needs --quit-after (when to take it)";
        return ParseResult::Error;
    }
    // The picture written over the recording at the end would destroy it.
    if (o.recordType && !o.screenshotPath.isEmpty() &&
        QFileInfo(o.screenshotPath).absoluteFilePath() == QFileInfo(o.recordPath).absoluteFilePath()) {
        message = bad("record", p.value(record), "is the same file as --screenshot " + o.screenshotPath.toStdString());
        return ParseResult::Error;
    }
    return ParseResult::Run;
}
