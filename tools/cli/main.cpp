// tavirel-cli: the receiver without its window. The same chain the window
// owns, fed from a file, standard input or a TCP IQ server, delivering the
// transport stream to files, standard output and the network.
#include "CliOptions.h"
#include "CliRun.h"
#include "CliScan.h"
#include "RadioSelection.h"
#include "SampleReader.h"
#include "SigmfInput.h"
#include "Targets.h"
#include "TsOutputs.h"
#include "StandardStreams.h"

#include "core/HeapTuning.h"
#include "core/Log.h"
#include "devices/DeviceEnumerator.h"
#include "devices/DeviceSettings.h"

#include <QCoreApplication>

#include <algorithm>
#include <iostream>

namespace {

int fail(int code, const std::string& message)
{
    return toolError("tavirel-cli", code, message);
}

} // namespace

int main(int argc, char** argv)
{
    // Before the application object opens its own descriptors.
    const StandardStreams standard = checkStandardStreams();
    keepWorkBuffersInTheHeap();
    QCoreApplication app(argc, argv);
    startTool("tavirel-cli");

    CliOptions options;
    std::string message;
    const ParseResult parsed = parseCliOptions(app.arguments(), options, message);
    if (parsed == ParseResult::Error)
        message += " (see --help)";
    const int answered = answerParse(parsed, message, "tavirel-cli", kExitUsage);
    if (answered >= 0)
        return answered;
    if (options.listDevices) {
        setLogTarget(LogTarget::Nowhere);   // what the enumeration logs is not the listing
        const DeviceEnumerator enumerator;
        for (const std::string& line : radioListing(enumerator.devices()))
            std::cout << line << std::endl;
        return 0;
    }
    // A SigMF recording: its metadata fills in what the options leave open.
    std::vector<std::string> notes;
    const int sigmf = applySigmfInput(options, message, notes);
    if (sigmf != kExitDone)
        return fail(sigmf, message);
    for (const std::string& note : notes)
        std::cerr << "tavirel-cli: " << note << std::endl;
    // Nothing is opened before every target is known to be distinct: an
    // output opened for writing on the input file would destroy it.
    if (!resolveHostNames(options, message))
        return fail(kExitUsage, message);
    message = conflictingTargets(options);
    if (!message.empty())
        return fail(kExitUsage, message);
    if (options.input == InputKind::File && !SampleReader::readable(options.inputPath))
        return fail(kExitInput, "--input: cannot open '" + options.inputPath + "'");
    if (options.input == InputKind::Stdin && !standard.inputProblem.empty())
        return fail(kExitInput, "--input -: cannot read: " + standard.inputProblem);
    if (options.stdoutCarriesTs() && !standard.outputProblem.empty())
        return fail(kExitOutput, "--output -: cannot write: " + standard.outputProblem);
    // The receiver's log is for whoever asks for it; what a person needs
    // (status, warnings, errors, the summary) the tool says itself.
    setErrorLinesWithLog(true);
    if (options.verbose) {
        setLogTarget(LogTarget::StandardError);
    } else if (!options.logPath.empty()) {
        if (!setLogFile(options.logPath))
            return fail(kExitUsage, "--log: cannot create '" + options.logPath + "'");
    } else {
        setLogTarget(LogTarget::Nowhere);
    }

    // A radio: found in the enumeration, its devices.ini settings loaded as
    // the window does, and its listed rate nearest to --sample-rate.
    std::unique_ptr<DeviceEnumerator> enumerator;
    InputDevice* radio = nullptr;
    if (options.input == InputKind::Radio) {
        enumerator = std::make_unique<DeviceEnumerator>();
        radio = selectRadio(enumerator->devices(), options.radioChoice, message);
        if (radio == nullptr)
            return fail(kExitInput, "--input " + options.radioChoice + ": " + message);
        loadDeviceSettings(*radio);
        const std::vector<uint64_t> rates = radio->getSampleRates();
        if (rates.empty())
            return fail(kExitInput, "--input " + options.radioChoice + ": the device offers no sample rate");
        options.radioRateIndex = nearestRateIndex(rates, options.receiver.sampleRate);
        const uint64_t rate = rates[options.radioRateIndex];
        if (rate != options.receiver.sampleRate)
            std::cerr << "tavirel-cli: --sample-rate " << options.receiver.sampleRate << ": " << radio->getTypeName()
                      << " runs at " << rate << " instead (the nearest rate it offers)" << std::endl;
        options.receiver.sampleRate = rate;
        const int32_t highest = maxSymbolRate(rate, 0, options.receiver.rollOff);
        if (options.symbolRateAuto)   // until measured
            options.receiver.symbolRate = std::max(std::min(options.receiver.symbolRate, highest), kMinSymbolRate);
        if (options.receiver.symbolRate > highest)
            return fail(kExitUsage, "--symbol-rate " + std::to_string(options.receiver.symbolRate) + ": above " +
                                        std::to_string(highest) + " symbols/s, the highest the radio's sample rate " +
                                        std::to_string(rate) + " Hz carries");
    }

    if (options.scan)
        return runScan(options, radio);
    TsOutputs outputs;
    outputs.setErrorReport([](const std::string& text) { toolError("tavirel-cli", 0, text); });
    if (!outputs.open(options, message))
        return fail(kExitUsage, message);
    return runReceiver(options, outputs, radio);
}
