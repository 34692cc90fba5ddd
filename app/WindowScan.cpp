#include "app/WindowScan.h"

#include "core/Log.h"
#include "receiver/BandScan.h"
#include "receiver/BandWatch.h"
#include "receiver/Receiver.h"
#include "ui/WaterfallDisplay.h"

#include <QStringList>

#include <cmath>

namespace {

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

// "125k", "1.5M": short enough for the waterfall's foot.
QString shortRate(double symbolRate)
{
    if (symbolRate >= 1e6)
        return QString::number(symbolRate / 1e6, 'g', 4) + "M";
    return QString::number(std::lround(symbolRate / 1e3)) + "k";
}

// "0x0001 NAME [ PROVIDER ]", as the SDT's lines read: the name alone.
QString serviceName(const std::string& line)
{
    QString text = QString::fromStdString(line).trimmed();
    if (text.startsWith("0x")) {
        const int space = text.indexOf(' ');
        text = space > 0 ? text.mid(space + 1) : QString();
    }
    const int provider = text.lastIndexOf(" [");
    if (provider >= 0 && text.endsWith(']'))
        text.truncate(provider);
    return text.trimmed();
}

} // namespace

ScanRow scanRow(const ScannedCarrier& carrier, std::optional<double> centreHz, bool visiting,
                const std::vector<double>& oscillatorsHz)
{
    const SurveyedCarrier& s = carrier.surveyed;
    ScanRow row;
    row.frequency = centreHz ? fixed((*centreHz + carrier.offsetHz()) / 1e6, 4)
                             : (carrier.offsetHz() >= 0 ? "+" : "") + fixed(carrier.offsetHz() / 1e6, 4);
    row.symbolRate = fixed(s.symbolRate / 1e3, 3) + (s.rateMeasured ? "" : " ?");
    row.esn0 = fixed(s.esn0Db, 1);
    QStringList tip;
    if (centreHz) {
        tip << "Frequency at the radio's input";
        for (double lo : oscillatorsHz)
            if (lo > 0)
                tip << QString("Behind an LNB of %1 MHz: %2 MHz").arg(lo / 1e6, 0, 'f', 0).arg(
                           (lo + *centreHz + carrier.offsetHz()) / 1e6, 0, 'f', 4);
    } else {
        tip << "Offset from the band's centre (the input has no frequency)";
    }
    tip << (s.rateMeasured ? "Symbol rate measured from the signal"
                           : "Symbol rate from the carrier's width: no line at its rate was seen");
    if (visiting) {
        row.state = ScanRow::State::Visiting;
        row.signal = "trying…";
    } else if (!carrier.visited()) {
        row.state = ScanRow::State::NotVisited;
        tip << "Not tried yet: click to receive it, or scan again";
    } else if (!carrier.decodes()) {
        row.state = ScanRow::State::Silent;
        row.signal = "-";
        tip << "Neither DVB-S2 nor DVB-S decoded here";
    } else {
        const CarrierIdentity& id = *carrier.identity;
        row.state = ScanRow::State::Decodes;
        // The frame size and pilots in the tool tip: the column stays narrow.
        QString modcod = QString::fromStdString(id.modcod);
        tip << QString(standardName(id.standard)) + " " + modcod;
        for (const char* detail : {" normal", " short", " pilots"})
            modcod.remove(detail);
        row.signal = QString(standardName(id.standard)) + " " + modcod;
        if (id.rollOff)
            tip << QString("Roll-off %1").arg(double(*id.rollOff), 0, 'f', 2);
        if (id.merDb)
            row.mer = fixed(*id.merDb, 1);
        QStringList services;
        for (const std::string& line : id.services) {
            services << serviceName(line);
            tip << QString::fromStdString(line);
        }
        row.services = services.join(", ");
    }
    row.toolTip = tip.join("\n");
    return row;
}

CarrierMark carrierMark(const ScannedCarrier& carrier, double sampleRate, double shiftHz)
{
    CarrierMark mark;
    const SurveyedCarrier& s = carrier.surveyed;
    const double rollOff = carrier.decodes() && carrier.identity->rollOff ? double(*carrier.identity->rollOff) : 0.35;
    mark.position = float(2.0 * (carrier.offsetHz() + shiftHz) / sampleRate);
    mark.width = float(2.0 * s.symbolRate * (1.0 + rollOff) / sampleRate);
    mark.decodes = carrier.decodes();
    mark.label = shortRate(s.symbolRate);
    if (carrier.decodes() && !carrier.identity->services.empty())
        mark.label += " " + serviceName(carrier.identity->services.front());
    return mark;
}

WindowScan::WindowScan(Receiver& receiver, ScanDock* dock, WaterfallDisplay* waterfall, Input input)
    : receiver(receiver), dock(dock), waterfall(waterfall), input(std::move(input))
{
    connect(&ticks, &QTimer::timeout, this, &WindowScan::tick);
    connect(dock, &ScanDock::scanRequested, this, &WindowScan::start);
    connect(dock, &ScanDock::stopRequested, this, &WindowScan::stop);
    connect(dock, &ScanDock::carrierChosen, this, &WindowScan::choose);
    showStatus();
}

WindowScan::~WindowScan()
{
    ticks.stop();
    forward->attach(nullptr);
    watch.reset();
    if (scan)
        scan->cancel();
    scan.reset();
}

void WindowScan::start()
{
    if (!input.connected())
        return;
    if (input.freeBand)
        input.freeBand();
    if (scan)
        stop();
    watch.reset();
    list.clear();
    visiting = -1;
    bandCentreHz = input.centreHz ? input.centreHz() : std::nullopt;
    LogLine() << "Scanning the band";
    scan = std::make_unique<BandScan>(receiver);
    forward->attach(scan.get());
    dock->setScanning(true);
    showCarriers();
    showStatus();
    ticks.start(10);
}

void WindowScan::stop()
{
    if (!scan)
        return;
    scan->cancel();
    finishScan(true);
}

void WindowScan::yieldBand()
{
    if (scan) {
        scan->cancel();
        finishScan(true);
    }
    watch.reset();
    ticks.stop();
    showStatus();
}

void WindowScan::inputEnded()
{
    watch.reset();
    if (scan) {
        scan->release();
        scan->end();
        finishScan(true);
    }
    ticks.stop();
    showStatus();
}

void WindowScan::inputChanged()
{
    dock->setScanEnabled(input.connected());
    showStatus();
}

void WindowScan::finishScan(bool stopped)
{
    list = scan->results();
    forward->attach(nullptr);
    scan.reset();
    // The service list shown in the band was the last carrier visited.
    waterfall->setOverlayText(QString(), {});
    visiting = -1;
    dock->setScanning(false);
    if (stopped)
        LogLine() << "Scan stopped";
    else
        LogLine() << "Scan done: " << list.size() << " carriers";
    showCarriers();
    emit tuningChanged(QString());
    if (input.connected())
        startWatching();
    else
        ticks.stop();
    showStatus();
}

void WindowScan::startWatching()
{
    watch = std::make_unique<BandWatch>(receiver.chain(), double(receiver.settings().sampleRate));
    ticks.start(50);
}

void WindowScan::tick()
{
    if (scan) {
        const bool going = scan->step();
        if (!going) {
            finishScan(false);
            return;
        }
        // The rows at a pace a person reads, not at every step.
        if (++ticksSinceRows >= 10) {
            ticksSinceRows = 0;
            list = scan->results();
            visiting = scan->visitingIndex();
            showCarriers();
            showStatus();
        }
        return;
    }
    if (!watch)
        return;
    if (std::optional<std::vector<SurveyedCarrier>> seen = watch->step()) {
        for (SurveyedCarrier& c : *seen)
            c.offsetHz -= shiftHz();
        followBand(list, *seen);
        showCarriers();
        showStatus();
    } else if ((input.centreHz ? input.centreHz() : std::nullopt) != shownCentreHz) {
        showCarriers();   // the radio was tuned: the marks move
    }
}

double WindowScan::shiftHz() const
{
    const std::optional<double> now = input.centreHz ? input.centreHz() : std::nullopt;
    return bandCentreHz && now ? *bandCentreHz - *now : 0.0;
}

void WindowScan::choose(int row)
{
    if (scan || row < 0 || row >= int(list.size()) || !input.connected())
        return;
    const ScannedCarrier& c = list[size_t(row)];
    const double offset = c.offsetHz() + shiftHz();
    if (std::fabs(offset) > 0.5 * double(receiver.settings().sampleRate)) {
        LogLine() << "The carrier at " << std::lround(offset) << " Hz is outside the band the input delivers now";
        return;
    }
    LogLine() << "Tuning to the carrier at " << std::lround(offset) << " Hz, " << std::lround(c.surveyed.symbolRate)
              << " symbols/s";
    const std::string limited = tuneToCarrier(receiver, c, shiftHz());
    emit tuningChanged(QString::fromStdString(limited));
}

void WindowScan::showCarriers()
{
    shownCentreHz = input.centreHz ? input.centreHz() : std::nullopt;
    const double shift = shiftHz();
    std::vector<ScanRow> rows;
    std::vector<CarrierMark> marks;
    const double sampleRate = double(receiver.settings().sampleRate);
    for (size_t i = 0; i < list.size(); ++i) {
        rows.push_back(scanRow(list[i], bandCentreHz, int(i) == visiting, input.oscillatorsHz));
        marks.push_back(carrierMark(list[i], sampleRate, shift));
    }
    dock->setRows(rows);
    waterfall->setCarrierMarks(std::move(marks));
}

void WindowScan::showStatus()
{
    if (!input.connected() && !scan) {
        dock->setStatus(list.empty() ? "Connect an input to scan its band"
                                     : QString("%1 carriers when the input stopped").arg(list.size()));
        return;
    }
    if (scan) {
        if (visiting < 0)
            dock->setStatus("Surveying the band…");
        else
            dock->setStatus(QString("Trying carrier %1 of %2…").arg(visiting + 1).arg(list.size()));
        return;
    }
    int decoding = 0;
    for (const ScannedCarrier& c : list)
        decoding += c.decodes() ? 1 : 0;
    if (list.empty())
        dock->setStatus(watch && watch->looks() == 0 ? "No carrier found" : "No carrier on the band");
    else
        dock->setStatus(QString("%1 carriers, %2 decode: click one to receive it").arg(list.size()).arg(decoding));
}
