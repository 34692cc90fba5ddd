// tavirel-cli: the receiver without its window. The same chain the window
// owns, fed from a file, standard input or a TCP IQ server, delivering the
// transport stream to files, standard output and the network.
#include "CliOptions.h"
#include "RunStatus.h"
#include "SampleReader.h"
#include "Targets.h"
#include "TsOutputs.h"

#include "core/Log.h"
#include "core/ProcessingChain.h"
#include "core/ReceiverSettings.h"
#include "devices/TCPInputDevice.h"
#include "stream/OutputSinks.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <iostream>
#include <memory>
#include <thread>

namespace {

int fail(int code, const std::string& message)
{
    std::cerr << "tavirel-cli: error: " << message << std::endl;
    return code;
}

std::atomic<bool> interrupted{false};

void onInterrupt(int)
{
    interrupted.store(true);
}

// Waits until nothing but the block being filled holds a pool buffer, or
// until the time is up.
void drain(ProcessingChain& chain, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (chain.pool().allocatedCount() > 1 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tavirel-cli");
    std::signal(SIGPIPE, SIG_IGN);

    CliOptions options;
    std::string message;
    const ParseResult parsed = parseCliOptions(app.arguments(), options, message);
    if (parsed == ParseResult::Exit) {
        std::cout << message << std::flush;
        return kExitDone;
    }
    if (parsed == ParseResult::Error)
        return fail(kExitUsage, message + " (see --help)");
    // Nothing is opened before every target is known to be distinct: an
    // output opened for writing on the input file would destroy it.
    if (!resolveHostNames(options, message))
        return fail(kExitUsage, message);
    message = conflictingTargets(options);
    if (!message.empty())
        return fail(kExitUsage, message);
    if (options.input == InputKind::File && !SampleReader::readable(options.inputPath))
        return fail(kExitInput, "--input: cannot open '" + options.inputPath + "'");
    // Standard output carries only the transport stream then.
    if (options.stdoutCarriesTs())
        setLogToStderr(true);
    auto& report = options.stdoutCarriesTs() ? std::cerr : std::cout;

    TsOutputs outputs;
    outputs.setErrorReport([](const std::string& text) { std::cerr << "tavirel-cli: error: " << text << std::endl; });
    for (const OutputTarget& target : options.outputs) {
        if (target.kind == OutputKind::File || target.kind == OutputKind::Stdout) {
            if (!outputs.addStream(target, message))
                return fail(kExitUsage, "--output: " + message);
        }
    }

    // Network outputs: one sink set per target, each on its own sink thread.
    std::vector<std::unique_ptr<OutputSinks>> network;
    for (const OutputTarget& target : options.outputs) {
        if (target.kind != OutputKind::Udp && target.kind != OutputKind::TcpListen)
            continue;
        auto sinks = std::make_unique<OutputSinks>();
        sinks->setErrorReport([](const QString&, const QString& text) {
            std::cerr << "tavirel-cli: " << text.toStdString() << std::endl;
        });
        const int mode = target.kind == OutputKind::Udp ? OutputSinks::kNetUdp : OutputSinks::kNetTcp;
        if (sinks->applyNetMode(mode, QString::fromStdString(target.host), target.port) != mode)
            return fail(kExitUsage, "--output: cannot use " + target.host + ":" + std::to_string(target.port));
        OutputSinks* raw = sinks.get();
        outputs.addWriter([raw](const uint8_t* bytes, size_t length) { raw->writeToSinks(bytes, length); });
        network.push_back(std::move(sinks));
    }
    // Recordings of symbols or samples.
    std::unique_ptr<OutputSinks> recorder;
    if (!options.recordKind.empty()) {
        recorder = std::make_unique<OutputSinks>();
        recorder->recording().setType(options.recordKind == "symbols" ? RecordType::Symbols : RecordType::Samples);
        if (!recorder->recording().open(QString::fromStdString(options.recordPath)))
            return fail(kExitUsage, "--record: cannot create '" + options.recordPath + "'");
    }

    ProcessingChain chain;
    chain.createLdpcWorkers(options.ldpcThreads);
    ReceiverSettings settings = options.receiver;
    applyReceiverSettings(chain, settings);
    if (!settings.dvbS2) {
        static const char* const rates[] = {"1/2", "2/3", "3/4", "5/6", "7/8"};
        for (int i = 0; i < 5; ++i)
            if (options.codeRate == rates[i])
                chain.viterbiWorker().setDepunctureIndex(i);
        chain.outerDecoder().setReedSolomonEnabled(options.reedSolomon);
        // Without a derotation or skip given, the four alignments and the
        // depuncturing skips are searched until sync is found; with either,
        // the alignment is the one given (0 for the other).
        if (options.derotate >= 0 || options.skip >= 0) {
            chain.demodWorker().setDerotation(std::max(options.derotate, 0));
            chain.viterbiWorker().skipSoftValues(std::max(options.skip, 0));
        } else {
            chain.alignmentSearch().setEnabled(true);
        }
    }
    if (recorder) {
        RecordFile& file = recorder->recording();
        chain.setSymbolObserver(
            [&file](const WorkBuffer& block) { file.write(RecordType::Symbols, block.data(), block.size()); });
        chain.setSampleBlockObserver(
            [&file](const WorkBuffer& block) { file.write(RecordType::Samples, block.data(), block.size()); });
    }

    RunStatus status(chain, settings.dvbS2, options.json, double(settings.sampleRate));
    status.setOutputLoss([&outputs, &recorder]() {
        return outputs.bytesLost() + (recorder ? recorder->recording().bytesLost() : 0);
    });
    // DVB-S: the sync as the end of a file left it, before the silence that
    // pushes its last block through (and that no sync survives); −1: not known.
    std::atomic<int> signalEndConfidence{-1};
    // Set by the reader's thread when a file has been read; the event loop
    // notices it with the interrupt (a flag, not an event posted from a
    // thread Qt does not know).
    std::atomic<bool> inputFinished{false};
    chain.setTransportStreamObserver([&](const uint8_t* bytes, size_t length) {
        outputs.write(bytes, length);
        status.onTransportStream(bytes, length);
    });
    chain.setGsePduObserver([&](const uint8_t* bytes, size_t length) { outputs.write(bytes, length); });
    chain.setFrameResultObserver([&](int32_t result) { status.onFrameResult(result); });
    chain.setServiceListObserver(
        [&](const std::vector<std::string>& lines, const std::string&) { status.onServices(lines); });
    // The BBHEADER's roll-off redesigns the matched filter, as the window
    // does, on the main thread: the stage thread leaves the value, the main
    // loop's poll takes it. (Plain atomics rather than Qt's queued calls, so
    // that the thread checker sees the hand-over.)
    float rollOff = settings.rollOff;
    std::atomic<float> reportedRollOff{settings.rollOff};
    chain.setRollOffObserver([&](float r) { reportedRollOff.store(r); });

    // The input.
    std::unique_ptr<SampleReader> reader;
    std::unique_ptr<TCPInputDevice> tcp;
    if (options.input == InputKind::Tcp) {
        tcp = std::make_unique<TCPInputDevice>();
        TcpInputSettings tcpSettings;
        tcpSettings.address = QString::fromStdString(options.inputHost);
        tcpSettings.port = options.inputPort;
        tcpSettings.bandwidthMHz = double(settings.sampleRate) / 1e6;
        tcpSettings.format = options.format;   // s8, s16 or f32: the options check it
        tcp->setSettingsPrompt([tcpSettings]() { return std::optional<TcpInputSettings>(tcpSettings); });
        tcp->setErrorReporter([](const QString&, const QString& text) {
            std::cerr << "tavirel-cli: " << text.toStdString() << std::endl;
        });
        // Reading waits while the chain is behind, so that TCP flow control
        // slows a server that sends faster than the chain decodes.
        tcp->setFlowControl([&chain]() { return chain.pool().allocatedCount() <= SampleReader::kHighWater; });
        tcp->setDisconnectHandler([&]() {
            LogLine() << "Input connection closed by the server.";
            // As at the end of a file: the whole blocks received are decoded
            // first and the receiver is seen as the signal left it; then the
            // last part block goes through with silence.
            drain(chain, std::chrono::seconds(10));
            signalEndConfidence.store(chain.outerDecoder().syncConfidence());
            for (int k = 0; k < ProcessingChain::kBlockSamples; ++k)
                chain.sampleCallback()(0, 0);
            inputFinished.store(true);
        });
    } else {
        reader = std::make_unique<SampleReader>(chain.pool(), chain.sampleCallback(), options.format);
        if (!reader->open(options.input == InputKind::Stdin ? std::string() : options.inputPath))
            return fail(kExitInput, "--input: cannot open '" + options.inputPath + "'");
    }

    // The TCP device's callback counts what it delivers; it outlives close().
    SampleCallback counting;
    chain.start();
    if (tcp) {
        SampleCallback& inner = chain.sampleCallback();
        counting = [&inner, &status](int16_t i, int16_t q) {
            inner(i, q);
            status.onSamplesRead(1);
        };
        if (tcp->open(counting)) {
            chain.stop();
            return fail(kExitInput, "--input: cannot connect to " + options.inputHost + ":" +
                                        std::to_string(options.inputPort));
        }
    } else {
        reader->start([&](uint64_t n) { status.onSamplesRead(n); },
                      [&]() { inputFinished.store(true); },
                      [&]() { signalEndConfidence.store(chain.outerDecoder().syncConfidence()); });
    }

    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    QTimer interruptPoll;
    auto takeRollOff = [&]() {
        const float r = reportedRollOff.load();
        if (r != rollOff) {
            rollOff = r;
            LogLine() << "auto rolloff changed to " << r;
            applyRollOff(chain, settings, r);
        }
    };
    QObject::connect(&interruptPoll, &QTimer::timeout, [&]() {
        takeRollOff();
        if (interrupted.load() || inputFinished.load() || outputs.stdoutFailed())
            QCoreApplication::quit();
    });
    interruptPoll.start(50);
    QTimer statusTimer;
    if (options.statusInterval > 0) {
        QObject::connect(&statusTimer, &QTimer::timeout, [&]() {
            if (!settings.dvbS2)
                status.setOuterDecoder(chain.outerDecoder().syncConfidence(),
                                       chain.outerDecoder().uncorrectableWords());
            report << status.line("status") << std::endl;
        });
        statusTimer.start(int(std::lround(options.statusInterval * 1000)));
    }
    if (options.duration > 0)
        QTimer::singleShot(int(std::lround(options.duration * 1000)), &app, &QCoreApplication::quit);

    app.exec();

    if (tcp)
        tcp->close();
    if (reader)
        reader->stop();
    // What is in flight still comes out.
    drain(chain, std::chrono::seconds(10));
    chain.stop();
    takeRollOff();
    outputs.flush();
    if (recorder)
        recorder->recording().close();
    for (auto& sinks : network)   // what was handed over still goes out
        for (int i = 0; i < 200 && sinks->pendingBytes() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!settings.dvbS2) {
        const int endConfidence = signalEndConfidence.load();
        status.setOuterDecoder(endConfidence >= 0 ? endConfidence : chain.outerDecoder().syncConfidence(),
                               chain.outerDecoder().uncorrectableWords());
    }
    report << status.line("summary") << std::endl;
    if (options.stageTimes)
        report << status.stageTimes(double(settings.symbolRate)) << std::endl;
    const bool outputFailed = outputs.bytesLost() > 0 || outputs.stdoutFailed() ||
                              (recorder && recorder->recording().failed());
    return outputFailed ? kExitOutput : kExitDone;
}
