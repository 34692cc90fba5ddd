// The window's band scan: the "Scan" action and the carriers dock. A scan
// surveys the band the input delivers and visits each carrier; afterwards
// the band is watched (the receiver decoding meanwhile) and the list follows
// carriers that come and go. A row clicked tunes the receiver to that
// carrier; the waterfall marks each carrier with its rate and service.
#pragma once

#include "receiver/BandScan.h"
#include "receiver/ScannedCarrier.h"
#include "ui/ScanDock.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class BandWatch;
class Receiver;
class WaterfallDisplay;
struct FrameTag;

// A carrier's row: `centreHz` is the frequency the input is tuned to, when
// known (else the offset is shown).
// known (else the offset is shown); each of `oscillatorsHz` adds a frequency
// behind an LNB to the tool tip.
ScanRow scanRow(const ScannedCarrier& carrier, std::optional<double> centreHz, bool visiting,
                const std::vector<double>& oscillatorsHz = {});
// A carrier's mark on a band `sampleRate` wide whose centre lies `shiftHz`
// below the centre the carrier's offset is from.
struct CarrierMark;
CarrierMark carrierMark(const ScannedCarrier& carrier, double sampleRate, double shiftHz = 0);

class WindowScan : public QObject {
    Q_OBJECT

public:
    struct Input {
        std::function<bool()> connected;
        // The radio's (or stream's) frequency in Hz, when it has one.
        std::function<std::optional<double>()> centreHz;
        // The LNB's oscillators, added for the frequencies in the tool tips.
        std::vector<double> oscillatorsHz;
        // Called before a scan takes the band: whatever else looks at it
        // lets go.
        std::function<void()> freeBand;
    };
    WindowScan(Receiver& receiver, ScanDock* dock, WaterfallDisplay* waterfall, Input input);
    ~WindowScan() override;

    std::shared_ptr<ScanRelay> relay() const { return forward; }

    // A new scan of the band (the list starts afresh); nothing without an input.
    void start();
    // Ends the scan under way: the receiver goes back to its tuning from
    // before it, the carriers visited so far stay listed.
    void stop();
    bool scanning() const { return scan != nullptr; }
    // Something else takes the band: the scan is stopped and the band no
    // longer watched (until the next scan).
    void yieldBand();
    bool watching() const { return watch != nullptr; }
    // The input has stopped: what the scan saw is the answer.
    void inputEnded();
    // The input can be scanned (or no longer).
    void inputChanged();

    const std::vector<ScannedCarrier>& carriers() const { return list; }
    // Tunes the receiver to the listed carrier `row`.
    void choose(int row);

Q_SIGNALS:
    // The receiver's tuning changed: a scan began, ended or a carrier was
    // chosen (`limited` says what the rate was limited to, "" if nothing).
    void tuningChanged(const QString& limited);

private:
    Receiver& receiver;
    ScanDock* dock;
    WaterfallDisplay* waterfall;
    Input input;
    std::shared_ptr<ScanRelay> forward = std::make_shared<ScanRelay>();
    std::unique_ptr<BandScan> scan;
    std::unique_ptr<BandWatch> watch;
    // The carriers' offsets are from the input's frequency at the scan: a
    // radio tuned elsewhere since sees them shifted.
    std::vector<ScannedCarrier> list;
    std::optional<double> bandCentreHz;
    std::optional<double> shownCentreHz;
    int visiting = -1;
    QTimer ticks;
    int ticksSinceRows = 0;

    void tick();
    double shiftHz() const;   // the band's centre at the scan less now
    void finishScan(bool stopped);
    void startWatching();
    void showCarriers();
    void showStatus();
};
