#include "CliScan.h"

#include "CliInput.h"
#include "ReportStream.h"
#include "RunStatus.h"
#include "fec/FrameTag.h"
#include "receiver/BandScan.h"
#include "receiver/ScanRange.h"
#include "receiver/ProcessingChain.h"
#include "receiver/Receiver.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>

#include <unistd.h>

namespace {

std::atomic<bool> interrupted{false};

// After the tuner moves, the samples of this long are the old band's or the
// tuner's settling: none of them reaches the next step's survey.
constexpr double kRetuneSettleSeconds = 0.1;

void onInterrupt(int)
{
    interrupted.store(true);
}

std::string fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace

std::string carrierLine(int number, const ScannedCarrier& scanned, std::optional<double> centreHz, bool asJson)
{
    const SurveyedCarrier& carrier = scanned.surveyed;
    const bool decoded = scanned.decodes();
    const CarrierIdentity* identity = decoded ? &*scanned.identity : nullptr;
    const double offsetHz = scanned.offsetHz();
    if (asJson) {
        nlohmann::ordered_json j;
        j["type"] = "carrier";
        j["number"] = number;
        j["frequency_hz"] = centreHz ? nlohmann::ordered_json(std::llround(*centreHz + offsetHz)) : nullptr;
        j["offset_hz"] = std::llround(offsetHz);
        j["symbol_rate"] = std::llround(carrier.symbolRate);
        j["rate_measured"] = carrier.rateMeasured;
        j["esn0_db"] = std::round(carrier.esn0Db * 10) / 10;
        j["standard"] = decoded ? nlohmann::ordered_json(standardName(identity->standard))
                                : nlohmann::ordered_json(nullptr);
        j["modcod"] = decoded ? nlohmann::ordered_json(identity->modcod) : nlohmann::ordered_json(nullptr);
        j["roll_off"] = decoded && identity->rollOff ? nlohmann::ordered_json(std::round(double(*identity->rollOff) * 100) / 100)
                                                     : nlohmann::ordered_json(nullptr);
        j["mer_db"] = decoded && identity->merDb ? nlohmann::ordered_json(std::round(*identity->merDb * 10) / 10)
                                                 : nlohmann::ordered_json(nullptr);
        j["services"] = decoded ? identity->services : std::vector<std::string>();
        return jsonText(j);
    }
    std::ostringstream out;
    out << "carrier " << number << ": ";
    if (centreHz)
        out << fixed((*centreHz + offsetHz) / 1e6, 4) << " MHz";
    else
        out << "offset " << fixed(offsetHz / 1e3, 1) << " kHz";
    out << " | " << fixed(carrier.symbolRate / 1e3, 3) << " ksym/s"
        << (carrier.rateMeasured ? "" : " (from the width)") << " | Es/N0 " << fixed(carrier.esn0Db, 1) << " dB | ";
    if (!decoded) {
        out << "not decoded";
        return out.str();
    }
    out << standardName(identity->standard) << " " << identity->modcod;
    if (identity->rollOff)
        out << " | roll-off " << fixed(*identity->rollOff, 2);
    if (identity->merDb)
        out << " | MER " << fixed(*identity->merDb, 1) << " dB";
    for (size_t i = 0; i < identity->services.size(); ++i)
        out << (i == 0 ? " | " : ", ") << identity->services[i];
    return out.str();
}

int runScan(const CliOptions& given, InputDevice* radio)
{
    // A range: the radio starts on the first step.
    CliOptions options = given;
    std::vector<ScanStep> steps;
    if (options.scanRange) {
        steps = scanSteps(double(options.scanRange->first), double(options.scanRange->second),
                          double(options.receiver.sampleRate));
        options.frequency = uint64_t(std::llround(steps.front().centreHz));
    }
    ReportStream report(std::cout, STDOUT_FILENO, !options.json);
    Receiver receiver(options.receiver);
    receiver.createLdpcWorkers(options.receiver.ldpcThreads, options.receiver.ldpcDecoder);
    ProcessingChain& chain = receiver.chain();
    const double sampleRate = double(receiver.settings().sampleRate);
    RunStatus status(chain, true, options.json, sampleRate);

    // First the survey alone, then each carrier visited.
    chain.setSpectrumShown(false);
    ScanRelay relay;
    auto scan = std::make_unique<BandScan>(receiver);
    relay.attach(scan.get());
    chain.setFrameResultObserver([&relay](const FrameTag& tag) { relay.frameReleased(tag); });
    chain.setServiceListObserver(
        [&relay](const std::vector<std::string>& lines, const std::string&) { relay.servicesListed(lines); });
    chain.setRollOffObserver(receiver.rollOffReporter());

    std::optional<double> centre;
    if (options.frequency)
        centre = double(*options.frequency) + options.lnbHz;
    else if (options.recordedFrequency)
        centre = *options.recordedFrequency + options.lnbHz;

    CliInput input(chain, options, status, radio);
    std::string message;
    if (!input.open(message)) {
        std::cerr << "tavirel-cli: error: " << message << std::endl;
        return kExitInput;
    }
    if (!options.json)
        report.line("scan: " + options.inputText + " | " + std::to_string(receiver.settings().sampleRate) +
                    " samples/s" +
                    (steps.empty() ? std::string()
                                   : " | " + fixed(double(options.scanRange->first) / 1e6, 3) + " to " +
                                         fixed(double(options.scanRange->second) / 1e6, 3) + " MHz in " +
                                         std::to_string(steps.size()) + " steps"));
    chain.start();
    if (!input.start(message)) {
        chain.stop();
        std::cerr << "tavirel-cli: error: " << message << std::endl;
        return kExitInput;
    }
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);

    // A range: each step's answer merged, then the tuner on to the next,
    // whose scan begins once the samples from before the retune are gone.
    std::vector<RangeCarrier> range;
    size_t step = 0;
    uint64_t settledAt = 0;
    const uint64_t settleSamples = uint64_t(kRetuneSettleSeconds * sampleRate);
    auto finishStep = [&]() {
        const std::vector<ScannedCarrier> found = scan->results();
        const size_t before = range.size();
        mergeStep(range, found, steps[step]);
        if (!options.json && !options.quiet)
            report.line("step " + std::to_string(step + 1) + " of " + std::to_string(steps.size()) + ": " +
                        fixed(steps[step].centreHz / 1e6, 3) + " MHz, " + std::to_string(range.size() - before) +
                        " carriers");
        relay.attach(nullptr);
        scan.reset();
    };

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&]() {
        receiver.followRollOff();
        // At a recording's end what is still in the chain's queues is
        // signal too: the scan goes on until the chain has taken it all.
        if (interrupted.load() || (input.finished() && chain.waitIdle(std::chrono::milliseconds(0)))) {
            QCoreApplication::quit();
            return;
        }
        if (!scan) {
            if (chain.inputSamples() < settledAt)
                return;
            scan = std::make_unique<BandScan>(receiver);
            relay.attach(scan.get());
        }
        const bool going = scan->step();
        if (scan->surveyJustDone() && !options.json && !options.quiet)
            report.line("survey: " + std::to_string(scan->carriers().size()) + " carriers after " +
                        fixed(double(scan->surveySamples()) / sampleRate, 1) + " s of signal");
        if (going)
            return;
        if (steps.empty()) {
            QCoreApplication::quit();
            return;
        }
        finishStep();
        if (++step >= steps.size()) {
            QCoreApplication::quit();
            return;
        }
        radio->setFrequency(uint64_t(std::llround(steps[step].centreHz)));
        settledAt = chain.inputSamples() + settleSamples;
    });
    poll.start(10);
    QCoreApplication::exec();

    if (scan)
        scan->release();
    input.stop();
    chain.waitIdle(std::chrono::seconds(10));
    chain.stop();
    if (scan)
        scan->end();   // where the input ended first: the carriers seen so far
    const uint64_t samplesTaken = scan ? scan->samplesTaken() : 0;
    bool complete = true;
    std::vector<RangeCarrier> listed;
    if (steps.empty()) {
        complete = scan->identifiedAll() || scan->carriers().empty();
        for (const ScannedCarrier& c : scan->results())
            listed.push_back(RangeCarrier{c, centre.value_or(0)});
    } else {
        if (scan && step < steps.size())
            finishStep();   // an interrupted step: what it saw
        complete = step >= steps.size();
        listed = range;
    }
    if (!options.json && !options.quiet && !complete)
        std::cerr << "tavirel-cli: warning: the input ended before every carrier could be identified" << std::endl;
    for (size_t i = 0; i < listed.size(); ++i) {
        std::optional<double> at = centre;
        if (!steps.empty())
            at = listed[i].centreHz + options.lnbHz;
        report.line(carrierLine(int(i + 1), listed[i].carrier, at, options.json));
    }
    const double seconds = double(steps.empty() ? samplesTaken : chain.inputSamples()) / sampleRate;
    if (!options.json)
        report.line("scan: " + std::to_string(listed.size()) + " carriers in " + fixed(seconds, 1) + " s of signal");
    return kExitDone;
}
