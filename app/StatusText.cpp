#include "app/StatusText.h"

#include "demod/DemodWorker.h"
#include "demod/PlSignalling.h"
#include "demod/SignalQuality.h"

#include <algorithm>
#include <cmath>

QString recordingSizeText(uint64_t bytes)
{
    const char* unit = "B";
    uint64_t shown = bytes;
    if (bytes >= 1024) {
        shown /= 1024;
        unit = "KiB";
    }
    if (bytes >= 1048576) {
        shown /= 1024;
        unit = "MiB";
    }
    return QString("%1 %2").arg(shown).arg(unit);
}

QColor syncConfidenceColour(bool dvbS2, int value)
{
    const QColor green(0, 192, 0), orange(192, 128, 0), red(192, 0, 0);
    if (dvbS2)
        return value > 31 ? green : value > 7 ? orange : red;
    return value > 4095 ? green : value < 9 ? red : orange;
}

QString syncConfidenceText(int confidence, const std::string& problem)
{
    QString text = QString("sync_confidence: %0").arg(confidence);
    if (!problem.empty())
        text += QString(" (%1)").arg(QString::fromStdString(problem));
    return text;
}

QString threeDigits(double value)
{
    if (!std::isfinite(value) || value == 0)
        return "0";
    const int magnitude = int(std::floor(std::log10(std::fabs(value))));
    const int decimals = std::max(0, 2 - magnitude);
    return QString::number(value, 'f', decimals);
}

QString carrierOffsetText(double hz)
{
    if (!std::isfinite(hz))
        return "Carrier: -";
    const double khz = std::round(hz / 100.0) / 10.0;
    return QString("Carrier: %1%2 kHz").arg(khz < 0 ? "-" : "+").arg(QString::number(std::fabs(khz), 'f', 1));
}

QString modcodStatisticsText(bool dvbS2, bool locked, std::array<ModcodStatistic, 128>& statistics, int64_t now,
                             int64_t ticksPerSecond)
{
    if (!dvbS2)
        return "";
    if (!locked)
        return "No Lock!";
    QString text = "Modcode Stats:\n";
    int64_t sum = 0;
    for (ModcodStatistic& s : statistics) {
        if (s.count > 0 && now - s.lastSeen >= ModcodStatistic::kWindowSeconds * ticksPerSecond)
            s = ModcodStatistic();
        sum += s.count;
    }
    for (size_t key = 0; key < statistics.size(); ++key) {
        const ModcodStatistic& s = statistics[key];
        if (s.count == 0)
            continue;
        const uint8_t pls = uint8_t(key);
        text += QString("\n%1, Pilots %2, %3 frame --> %4 Frames (%5%)")
                    .arg(s2ModcodRow(plsModcod(pls)).name)
                    .arg(plsPilots(pls) ? "on" : "off")
                    .arg(plsShortFrame(pls) ? "short" : "normal")
                    .arg(s.count)
                    .arg(100 * s.count / sum);
    }
    return text;
}

std::vector<double> equalizerTapMagnitudes(const std::vector<std::complex<float>>& taps)
{
    std::vector<double> magnitudes(taps.size());
    double sum = 0;
    for (size_t i = 0; i < taps.size(); ++i) {
        const double m = std::hypot(double(taps[i].real()), double(taps[i].imag()));
        magnitudes[i] = std::isfinite(m) ? std::min(m, 10.0) : 10.0;
        sum += magnitudes[i];
    }
    if (sum > 0)
        for (double& m : magnitudes)
            m *= double(magnitudes.size()) / sum;
    return magnitudes;
}

namespace {

// One decimal, never "-0.0".
QString tenths(double db)
{
    double rounded = std::round(db * 10) / 10;
    if (rounded == 0)
        rounded = 0;
    return QString::number(rounded, 'f', 1);
}

} // namespace

QString merText(const SignalQualityReading& quality)
{
    if (quality.valid && quality.merValid)
        return "MER: " + tenths(quality.merDb) + " dB";
    // Frames lost in the noise: the MER cannot be measured, the symbols'
    // Es/N0 still moves with the signal.
    if (quality.valid)
        return "MER: -  Es/N0: " + tenths(quality.esn0Db) + " dB";
    return "MER: -";
}

QString merDetailText(const SignalQualityReading& quality)
{
    return quality.valid && quality.merValid ? "MER " + tenths(quality.merDb) + " dB" : QString();
}

QString decodingErrorsText(bool dvbS2, const DecodingErrors& e)
{
    if (!dvbS2)
        return QString("RS: %1 words uncorrectable").arg(e.rsUncorrectable);
    return QString("BCH: %1 bits corrected, %2 failed  CRC: %3 packets")
        .arg(e.bchCorrectedBits)
        .arg(e.bchFailures)
        .arg(e.packetCrcFailures);
}

QString decodingErrorsToolTip(bool dvbS2, const DecodingErrors& e)
{
    if (!dvbS2)
        return QString("Reed-Solomon words uncorrectable: %1").arg(e.rsUncorrectable);
    return QString("Bits corrected by BCH: %1\n"
                   "Frames BCH could not correct: %2\n"
                   "Packets marked, CRC-8 failed: %3\n"
                   "Packets marked, from failed frames: %4\n"
                   "SDT sections dropped, CRC-32 failed: %5\n"
                   "GSE packets dropped, CRC-32 failed: %6")
        .arg(e.bchCorrectedBits)
        .arg(e.bchFailures)
        .arg(e.packetCrcFailures)
        .arg(e.packetsFromFailedFrames)
        .arg(e.sdtCrcFailures)
        .arg(e.gseCrcFailures);
}

QString esn0Text(const SignalQualityReading& quality)
{
    return quality.valid ? "Es/N0: " + tenths(quality.esn0Db) + " dB" : QString();
}
