#include "CliScan.h"

#include "CliInput.h"
#include "ReportStream.h"
#include "RunStatus.h"
#include "fec/FrameTag.h"
#include "receiver/BandScan.h"
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
        j["standard"] = decoded ? nlohmann::ordered_json(identity->standard == Standard::DvbS2 ? "DVB-S2" : "DVB-S")
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
    out << (identity->standard == Standard::DvbS2 ? "DVB-S2 " : "DVB-S ") << identity->modcod;
    if (identity->rollOff)
        out << " | roll-off " << fixed(*identity->rollOff, 2);
    if (identity->merDb)
        out << " | MER " << fixed(*identity->merDb, 1) << " dB";
    for (size_t i = 0; i < identity->services.size(); ++i)
        out << (i == 0 ? " | " : ", ") << identity->services[i];
    return out.str();
}

int runScan(const CliOptions& options, InputDevice* radio)
{
    ReportStream report(std::cout, STDOUT_FILENO, !options.json);
    Receiver receiver(options.receiver);
    receiver.createLdpcWorkers(options.receiver.ldpcThreads, options.receiver.ldpcDecoder);
    ProcessingChain& chain = receiver.chain();
    const double sampleRate = double(receiver.settings().sampleRate);
    RunStatus status(chain, true, options.json, sampleRate);

    // First the survey alone, then each carrier visited.
    chain.setSpectrumShown(false);
    BandScan scan(receiver);
    chain.setFrameResultObserver([&scan](const FrameTag& tag) { scan.frameReleased(tag); });
    chain.setServiceListObserver(
        [&scan](const std::vector<std::string>& lines, const std::string&) { scan.servicesListed(lines); });
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
                    " samples/s");
    chain.start();
    if (!input.start(message)) {
        chain.stop();
        std::cerr << "tavirel-cli: error: " << message << std::endl;
        return kExitInput;
    }
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&]() {
        receiver.followRollOff();
        // At a recording's end what is still in the chain's queues is
        // signal too: the scan goes on until the chain has taken it all.
        if (interrupted.load() || (input.finished() && chain.waitIdle(std::chrono::milliseconds(0)))) {
            QCoreApplication::quit();
            return;
        }
        const bool going = scan.step();
        if (scan.surveyJustDone() && !options.json && !options.quiet)
            report.line("survey: " + std::to_string(scan.carriers().size()) + " carriers after " +
                        fixed(double(scan.surveySamples()) / sampleRate, 1) + " s of signal");
        if (!going)
            QCoreApplication::quit();
    });
    poll.start(10);
    QCoreApplication::exec();

    scan.release();
    input.stop();
    chain.waitIdle(std::chrono::seconds(10));
    chain.stop();
    scan.end();   // where the input ended first: the carriers seen so far
    const std::vector<ScannedCarrier> carriers = scan.results();
    if (!options.json && !options.quiet && !carriers.empty() && !scan.identifiedAll())
        std::cerr << "tavirel-cli: warning: the input ended before every carrier could be identified" << std::endl;
    for (size_t i = 0; i < carriers.size(); ++i)
        report.line(carrierLine(int(i + 1), carriers[i], centre, options.json));
    if (!options.json)
        report.line("scan: " + std::to_string(carriers.size()) + " carriers in " +
                    fixed(double(scan.samplesTaken()) / sampleRate, 1) + " s of signal");
    return kExitDone;
}
