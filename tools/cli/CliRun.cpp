#include "CliRun.h"

#include "CliInput.h"
#include "ReportStream.h"
#include "RunStatus.h"
#include "TsOutputs.h"
#include "core/Log.h"
#include "devices/SigmfMetadata.h"
#include "fec/FrameTag.h"
#include "receiver/AutoSymbolRate.h"
#include "receiver/ChainOutputs.h"
#include "receiver/ProcessingChain.h"
#include "receiver/Receiver.h"
#include "receiver/SigmfRecordingNotes.h"

#include <QCoreApplication>
#include <QTimer>
#include <QUdpSocket>

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

// The run's first line: where the samples come from, how they are read,
// where the stream goes.
std::string startLine(const CliOptions& options, const ReceiverSettings& settings, bool asJson)
{
    std::string input;
    switch (options.input) {
    case InputKind::File:
        input = "file:" + options.inputPath;
        if (options.recordedFrequency)
            input += " (recorded at " + std::to_string(std::llround(*options.recordedFrequency)) + " Hz)";
        break;
    case InputKind::Stdin: input = "standard input"; break;
    case InputKind::Tcp: input = options.inputText; break;
    case InputKind::Radio:
        input = options.radioChoice;
        if (options.frequency)
            input += " at " + std::to_string(*options.frequency) + " Hz";
        break;
    }
    const std::string standard = standardName(settings.standard);
    std::vector<std::string> targets;
    for (const OutputTarget& t : options.outputs)
        targets.push_back(t.text);
    for (const RecordTarget& r : options.recordings)
        targets.push_back("record " + r.kind + ":" + r.path);
    std::ostringstream out;
    if (asJson) {
        nlohmann::ordered_json j;
        j["type"] = "start";
        j["input"] = input;
        j["sample_rate"] = settings.sampleRate;
        j["standard"] = standard;
        j["symbol_rate"] = options.symbolRateAuto ? nlohmann::ordered_json("auto") : nlohmann::ordered_json(settings.symbolRate);
        j["outputs"] = targets;
        return jsonText(j);
    }
    out << "start: " << input << " | " << settings.sampleRate << " samples/s | " << standard << " "
        << (options.symbolRateAuto ? std::string("auto") : std::to_string(settings.symbolRate)) << " symbols/s | ";
    if (targets.empty())
        out << "no output";
    for (size_t i = 0; i < targets.size(); ++i)
        out << (i ? ", " : "output ") << targets[i];
    return out.str();
}

} // namespace

int runReceiver(const CliOptions& options, TsOutputs& outputs, InputDevice* radio)
{
    ReportStream report(options.stdoutCarriesTs() ? std::cerr : std::cout,
                        options.stdoutCarriesTs() ? STDERR_FILENO : STDOUT_FILENO, !options.json);
    Receiver receiver(options.receiver);
    receiver.createLdpcWorkers(options.receiver.ldpcThreads, options.receiver.ldpcDecoder);
    const ReceiverSettings& settings = receiver.settings();
    ProcessingChain& chain = receiver.chain();
    attachRecordings(chain, outputs.recordings());

    RunStatus status(chain, settings.dvbS2(), options.json, double(settings.sampleRate));
    status.setOutputLoss([&outputs]() { return outputs.bytesLost(); });
    chain.setTransportStreamObserver([&](const uint8_t* bytes, size_t length) {
        outputs.write(bytes, length);
        status.onTransportStream(bytes, length);
    });
    chain.setGsePduObserver([&](const uint8_t* bytes, size_t length) { outputs.write(bytes, length); });
    // A SigMF samples recording notes each MODCOD met, at the recorded
    // sample its first frame began at.
    RecordFile* sigmfRecording = nullptr;
    const RecordTarget* sigmfTarget = nullptr;
    for (size_t i = 0; i < options.recordings.size() && i < outputs.recordings().size(); ++i)
        if (options.recordings[i].sigmf) {
            sigmfRecording = outputs.recordings()[i];
            sigmfTarget = &options.recordings[i];
        }
    SigmfRecordingNotes notes;
    chain.setFrameResultObserver([&](const FrameTag& tag) {
        status.onFrameResult(tag.result, tag.passesAllowed);
        if (sigmfRecording != nullptr && tag.result >= 0)
            notes.frameDecoded(tag, *sigmfRecording);
    });
    chain.setServiceListObserver(
        [&](const std::vector<std::string>& lines, const std::string&) { status.onServices(lines); });
    // The BBHEADER's roll-off reaches the settings on the main thread
    // (polled below).
    chain.setRollOffObserver(receiver.rollOffReporter());
    // No display here: the spectrum serves only the band search.
    chain.setSpectrumShown(false);

    CliInput input(chain, options, status, radio);
    std::string message;
    if (!input.open(message)) {
        std::cerr << "tavirel-cli: error: " << message << std::endl;
        return kExitInput;
    }
    // Dashboards and scripts: every report also as one JSON datagram.
    QUdpSocket statusSocket;
    const QHostAddress statusHost(QString::fromStdString(options.statusUdpHost));
    auto sendStatus = [&](const std::string& json) {
        if (options.statusUdpPort > 0)
            statusSocket.writeDatagram(json.data(), qint64(json.size()), statusHost, quint16(options.statusUdpPort));
    };
    if (!options.quiet)
        report.line(startLine(options, settings, options.json));
    sendStatus(startLine(options, settings, true));
    // The rate measured first, while the stages rest.
    std::unique_ptr<AutoSymbolRate> autoRate;
    if (options.symbolRateAuto)
        autoRate = std::make_unique<AutoSymbolRate>(receiver);
    chain.start();
    if (!input.start(message)) {
        chain.stop();
        std::cerr << "tavirel-cli: error: " << message << std::endl;
        return kExitInput;
    }
    auto followAutoRate = [&]() {
        if (!autoRate || !autoRate->step() || options.quiet)
            return;
        const SurveyedCarrier c = *autoRate->carrier();
        report.endStatus();
        if (options.json) {
            nlohmann::ordered_json j;
            j["type"] = "symbol_rate";
            j["symbol_rate"] = settings.symbolRate;
            j["measured"] = c.rateMeasured;
            j["offset_hz"] = std::llround(c.offsetHz);
            j["esn0_db"] = std::round(c.esn0Db * 10) / 10;
            report.line(jsonText(j));
        } else {
            char offset[32];
            std::snprintf(offset, sizeof offset, "%+.1f", c.offsetHz / 1e3);
            report.line("symbol rate: " + std::to_string(settings.symbolRate) + " symbols/s " +
                        (c.rateMeasured ? "measured" : "from the carrier's width (no line at its rate)") +
                        " | carrier at " + offset + " kHz");
        }
    };

    // Interrupts, the input's end and a closed standard output reach the
    // event loop as flags it polls, not as events posted from threads Qt
    // does not know.
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    // Full-scale samples: the radio's gain (or the recording's level) is too
    // high, and a clipped signal decodes badly or not at all. Said once.
    bool clipWarned = false;
    auto warnClipping = [&]() {
        const uint64_t clipped = chain.clippedSamples();
        if (clipWarned || clipped == 0)
            return;
        clipWarned = true;
        if (options.quiet)
            return;
        report.endStatus();
        std::cerr << "tavirel-cli: warning: the input is clipping (" << clipped
                  << " samples at full scale): lower the gain" << std::endl;
    };
    // A recording that cannot be written stops; said once, whatever the log.
    const std::vector<RecordFile*> recordings = outputs.recordings();
    std::vector<bool> recordingReported(recordings.size(), false);
    auto reportRecordings = [&]() {
        for (size_t i = 0; i < recordings.size() && i < options.recordings.size(); ++i) {
            if (recordingReported[i] || !recordings[i]->failed())
                continue;
            recordingReported[i] = true;
            report.endStatus();
            std::cerr << "tavirel-cli: error: the recording '" << options.recordings[i].path
                      << "' could not be written and has stopped" << std::endl;
        }
    };
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&]() {
        warnClipping();
        reportRecordings();
        receiver.followRollOff();
        followAutoRate();
        if (interrupted.load() || input.finished() || outputs.stdoutFailed())
            QCoreApplication::quit();
    });
    poll.start(50);
    auto readOuterDecoder = [&](int confidence) {
        status.setOuterDecoder(confidence, chain.dvbsDecoding().status().uncorrectable);
    };
    QTimer statusTimer;
    if (options.statusInterval > 0 && (!options.quiet || options.statusUdpPort > 0)) {
        QObject::connect(&statusTimer, &QTimer::timeout, [&]() {
            if (!settings.dvbS2())
                readOuterDecoder(chain.dvbsDecoding().status().confidence);
            if (!options.quiet)
                report.status(status.line("status"));
            sendStatus(status.line("status", true));
        });
        statusTimer.start(int(std::lround(options.statusInterval * 1000)));
    }
    if (options.duration > 0)
        QTimer::singleShot(int(std::lround(options.duration * 1000)), QCoreApplication::instance(),
                           &QCoreApplication::quit);

    QCoreApplication::exec();

    input.stop();
    if (chain.waitIdle(std::chrono::seconds(10)))   // what is in flight still comes out
        chain.endOfStream();
    chain.stop();
    receiver.followRollOff();
    outputs.finish();
    if (!settings.dvbS2()) {
        const int atEnd = input.endConfidence();
        readOuterDecoder(atEnd >= 0 ? atEnd : chain.dvbsDecoding().status().confidence);
    }
    warnClipping();
    if (autoRate && !autoRate->settled() && !options.quiet) {
        report.endStatus();
        std::cerr << "tavirel-cli: warning: no carrier's symbol rate could be measured at the tuned frequency"
                  << std::endl;
    }
    if (sigmfTarget != nullptr) {
        std::optional<double> frequency = options.recordedFrequency;
        if (options.frequency)
            frequency = double(*options.frequency);
        const SigmfDescription meta =
            notes.describe(settings, "tavirel-cli", radio != nullptr ? radio->getDeviceName() : std::string(), frequency);
        std::string error;
        if (!writeSigmfMeta(sigmfMetaPath(sigmfTarget->path), meta, error)) {
            report.endStatus();
            std::cerr << "tavirel-cli: error: " << error << std::endl;
        }
    }
    reportRecordings();
    report.line(status.line("summary"));
    sendStatus(status.line("summary", true));
    if (options.stageTimes)
        report.line(status.stageTimes(double(settings.symbolRate)));
    return outputs.anyFailed() ? kExitOutput : kExitDone;
}
