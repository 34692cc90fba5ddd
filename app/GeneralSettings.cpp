#include "app/GeneralSettings.h"

#include "core/Log.h"
#include "core/SettingsFile.h"
#include "receiver/ReceiverSettings.h"

#include <QHostAddress>
#include <QSettings>

#include <algorithm>
#include <optional>

namespace {

// The value of `key` as an integer, or `fallback` when absent or no number.
int readInt(const QSettings& s, const char* key, int fallback)
{
    if (!s.contains(key))
        return fallback;
    bool ok = false;
    const qlonglong v = s.value(key).toString().trimmed().toLongLong(&ok);
    if (!ok)
        return fallback;
    return int(std::clamp<qlonglong>(v, INT32_MIN, INT32_MAX));
}

// A space-separated list (QSettings reads an unquoted "a b c" as one string,
// "a, b" as a list).
QStringList readList(const QSettings& s, const char* key, const QStringList& fallback)
{
    if (!s.contains(key))
        return fallback;
    const QVariant v = s.value(key);
    const QString text = v.type() == QVariant::StringList ? v.toStringList().join(' ') : v.toString();
    return text.split(' ', Qt::SkipEmptyParts);
}

// The value of `key` as a whole number, nothing when absent, empty or no
// number (too long for 64 bits included).
std::optional<qlonglong> readNumber(const QSettings& s, const char* key)
{
    if (!s.contains(key))
        return std::nullopt;
    bool ok = false;
    const qlonglong v = s.value(key).toString().trimmed().toLongLong(&ok);
    return ok ? std::optional<qlonglong>(v) : std::nullopt;
}

// A value as the log shows it: a line of any length stays a short line.
std::string shown(const QString& value)
{
    constexpr int kShown = 40;
    QString text = value.left(kShown);
    for (QChar& c : text)
        if (!c.isPrint())
            c = '?';
    std::string out = "'" + text.toStdString() + "'";
    if (value.size() > kShown)
        out += "... (" + std::to_string(value.size()) + " characters)";
    return out;
}

} // namespace

GeneralSettings loadGeneralSettings(const QString& path)
{
    GeneralSettings g;
    // The settings class would read a pipe or a device until it ends.
    const std::string problem = settingsFileProblem(path.toStdString());
    if (!problem.empty()) {
        LogLine() << path.toStdString() << " " << problem << "; the default settings are used";
        return g;
    }
    QSettings s(path, QSettings::IniFormat);
    s.beginGroup("Generic");

    g.uiStyles = readList(s, "ui_style", g.uiStyles);
    const QStringList rgb = readList(s, "ui_iqplot_rgb", {});
    if (rgb.size() >= 3) {
        int c[3];
        bool ok = true;
        for (int i = 0; i < 3 && ok; ++i)
            c[i] = std::clamp(rgb[i].toInt(&ok), 0, 255);
        if (ok)
            g.iqPlotColour = QColor(c[0], c[1], c[2], 255);
    }
    g.freqLo0 = std::max(0, readInt(s, "freq_lo0", g.freqLo0));
    g.freqLo1 = std::max(0, readInt(s, "freq_lo1", g.freqLo1));
    // The symbol-rate range: both ends at least 1 ksym/s (no receiver runs
    // at 0), sr_min below sr_max, within what the controls take. A range
    // that is not (empty, 0, negative, too large, no number) is not guessed
    // at: both ends take their defaults.
    if (s.contains("sr_min") || s.contains("sr_max")) {
        const std::optional<qlonglong> lo = s.contains("sr_min") ? readNumber(s, "sr_min") : qlonglong(g.srMin);
        const std::optional<qlonglong> hi = s.contains("sr_max") ? readNumber(s, "sr_max") : qlonglong(g.srMax);
        if (lo && hi && *lo >= 1 && *lo < *hi && *hi <= kMaxSymbolRateKsym) {
            g.srMin = int(*lo);
            g.srMax = int(*hi);
        } else {
            LogLine() << path.toStdString() << ": symbol-rate range sr_min = "
                      << shown(s.value("sr_min", g.srMin).toString()) << ", sr_max = "
                      << shown(s.value("sr_max", g.srMax).toString()) << " is not usable (whole numbers 1 to "
                      << kMaxSymbolRateKsym << " ksym/s, sr_min below sr_max); using " << g.srMin << " to " << g.srMax
                      << " ksym/s";
        }
    }
    g.ldpcThreads = std::clamp(readInt(s, "conf_ldpc_threads", g.ldpcThreads), 0, kMaxLdpcThreads);
    if (s.contains("conf_ldpc_decoder"))
        parseLdpcDecoder(s.value("conf_ldpc_decoder").toString().toStdString(), g.ldpcDecoder); // unknown text: default

    QStringList presets;
    if (s.contains("sr_presets")) {
        presets = readList(s, "sr_presets", {});
    } else {
        for (const int p : g.srPresets)
            presets << QString::number(p);
    }
    g.srPresets.clear();
    for (const QString& item : presets) {
        bool ok = false;
        const int v = item.toInt(&ok);
        if (ok && v >= g.srMin && v <= g.srMax)
            g.srPresets.push_back(v);
    }

    g.ipOutPort = std::clamp(readInt(s, "ip_out_port", g.ipOutPort), kMinPort, kMaxPort);
    const int mode = readInt(s, "ip_out_mode", int(g.ipOutMode));
    g.ipOutMode = mode >= 0 && mode <= 2 ? NetworkMode(mode) : NetworkMode::Off;
    // An address the network output cannot use is said here, in the log:
    // the window is not up yet to show a message, and waiting for one to be
    // closed would hold the start-up. The output starts off.
    if (s.contains("ip_out_addr")) {
        const QString address = s.value("ip_out_addr").toString().trimmed();
        if (QHostAddress(address).isNull()) {
            LogLine() << path.toStdString() << ": ip_out_addr " << shown(address)
                      << " is not an IP address; the network output is off";
            g.ipOutMode = NetworkMode::Off;
        } else {
            g.ipOutAddr = address;
        }
    }
    g.iioNetContexts = readList(s, "iio_net_contexts", g.iioNetContexts);
    s.endGroup();
    return g;
}
