#include "CliInput.h"

#include "RunStatus.h"
#include "core/Log.h"
#include "receiver/ProcessingChain.h"

#include <iostream>

#include <sys/stat.h>

CliInput::CliInput(ProcessingChain& chain, const CliOptions& options, RunStatus& status, InputDevice* radio)
    : chain(chain), options(options), status(status), radio(radio)
{
}

CliInput::~CliInput()
{
    stop();
}

void CliInput::atEnd()
{
    confidenceAtEnd.store(chain.dvbsDecoding().status().confidence);
    status.holdSignalQuality(chain.demodWorker().signalQuality());
    // The silence that ends an input is no stall.
    std::string problem = chain.receptionProblem();
    if (problem.compare(0, 8, "no input") == 0)
        problem = chain.receiving() ? std::string() : "no signal";
    status.holdReception(chain.receiving(), problem);
}

bool CliInput::open(std::string& message)
{
    if (options.input == InputKind::Tcp || options.input == InputKind::Radio)
        return true;
    reader = std::make_unique<SampleReader>(chain.pool(), chain.blockCallback(), options.format,
                                            [this]() { return chain.readyForInput(); });
    if (!reader->open(options.input == InputKind::Stdin ? std::string() : options.inputPath)) {
        message = "--input: cannot open '" + options.inputPath + "'";
        return false;
    }
    struct stat file {};
    if (options.input == InputKind::File && ::stat(options.inputPath.c_str(), &file) == 0 && S_ISREG(file.st_mode))
        status.setInputLength(uint64_t(file.st_size) / iqSampleBytes(options.format));
    return true;
}

bool CliInput::start(std::string& message)
{
    if (reader) {
        reader->start([this](uint64_t n) { status.onSamplesRead(n); }, [this]() { ended.store(true); },
                      [this]() { atEnd(); }, [this]() { chain.flushPartialBlock(); });
        return true;
    }
    if (radio != nullptr)
        return startRadio(message);
    tcp = std::make_unique<TCPInputDevice>();
    TcpInputSettings settings;
    settings.address = QString::fromStdString(options.inputHost);
    settings.port = options.inputPort;
    settings.bandwidthMHz = double(options.receiver.sampleRate) / 1e6;
    settings.format = options.format;   // s8, s16 or f32: the options check it
    tcp->setSettingsPrompt([settings]() { return std::optional<TcpInputSettings>(settings); });
    tcp->setErrorReporter(
        [](const QString&, const QString& text) { std::cerr << "tavirel-cli: " << text.toStdString() << std::endl; });
    // Reading waits while the chain is behind, so that TCP flow control
    // slows a server that sends faster than the chain decodes.
    tcp->setFlowControl([this]() { return chain.readyForInput(); });
    tcp->setDisconnectHandler([this]() {
        LogLine() << "Input connection closed by the server.";
        chain.waitIdle(std::chrono::seconds(10));
        atEnd();
        chain.flushPartialBlock();
        ended.store(true);
    });
    countRuns();
    tcp->setBlockCallback(&countingRuns);
    if (tcp->open(counting)) {
        message = "--input: cannot connect to " + options.inputHost + ":" + std::to_string(options.inputPort);
        return false;
    }
    return true;
}

void CliInput::countRuns()
{
    // Devices hand whole converted runs over; the per-sample path stays for
    // one without runs.
    SampleCallback& inner = chain.sampleCallback();
    counting = [&inner, this](int16_t i, int16_t q) {
        inner(i, q);
        status.onSamplesRead(1);
    };
    SampleBlockCallback& innerRuns = chain.blockCallback();
    countingRuns = [&innerRuns, this](const int16_t* iq, size_t count) {
        innerRuns(iq, count);
        status.onSamplesRead(count);
    };
}

bool CliInput::startRadio(std::string& message)
{
    // As the window connects: open (a radio may start at its first rate and
    // without tuning), then the rate, frequency and gain.
    countRuns();
    radio->setBlockCallback(&countingRuns);
    if (radio->open(counting)) {
        radio->setBlockCallback(nullptr);
        message = "--input " + options.radioChoice + ": cannot open " + radio->getDeviceName();
        return false;
    }
    radio->setSampleRateIndex(options.radioRateIndex);
    radio->setFrequency(options.frequency.value_or(radio->getFrequency()));
    radio->setGain(options.gain.value_or(radio->getGain()));
    return true;
}

void CliInput::stop()
{
    if (radio != nullptr) {
        radio->close();
        radio->setBlockCallback(nullptr);
    }
    if (tcp)
        tcp->close();
    if (reader)
        reader->stop();
}
