#include "CliRun.h"

#include "CliInput.h"
#include "RunStatus.h"
#include "TsOutputs.h"
#include "core/Log.h"
#include "receiver/ChainOutputs.h"
#include "receiver/ProcessingChain.h"
#include "receiver/Receiver.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <iostream>

namespace {

std::atomic<bool> interrupted{false};

void onInterrupt(int)
{
    interrupted.store(true);
}

} // namespace

int runReceiver(const CliOptions& options, TsOutputs& outputs, InputDevice* radio)
{
    auto& report = options.stdoutCarriesTs() ? std::cerr : std::cout;
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
    chain.setFrameResultObserver([&](const FrameTag& tag) { status.onFrameResult(tag.result, tag.passesAllowed); });
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
    chain.start();
    if (!input.start(message)) {
        chain.stop();
        std::cerr << "tavirel-cli: error: " << message << std::endl;
        return kExitInput;
    }

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
        std::cerr << "tavirel-cli: warning: the input is clipping (" << clipped
                  << " samples at full scale): lower the gain" << std::endl;
    };
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&]() {
        warnClipping();
        receiver.followRollOff();
        if (interrupted.load() || input.finished() || outputs.stdoutFailed())
            QCoreApplication::quit();
    });
    poll.start(50);
    auto readOuterDecoder = [&](int confidence) {
        status.setOuterDecoder(confidence, chain.dvbsDecoding().status().uncorrectable);
    };
    QTimer statusTimer;
    if (options.statusInterval > 0) {
        QObject::connect(&statusTimer, &QTimer::timeout, [&]() {
            if (!settings.dvbS2())
                readOuterDecoder(chain.dvbsDecoding().status().confidence);
            report << status.line("status") << std::endl;
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
    report << status.line("summary") << std::endl;
    if (options.stageTimes)
        report << status.stageTimes(double(settings.symbolRate)) << std::endl;
    return outputs.anyFailed() ? kExitOutput : kExitDone;
}
