#include "TsOutputs.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <thread>

bool TsOutputs::open(const CliOptions& options, std::string& error)
{
    for (const OutputTarget& target : options.outputs) {
        if (target.kind == OutputKind::File || target.kind == OutputKind::Stdout) {
            if (!addStream(target, error)) {
                error = "--output: " + error;
                return false;
            }
            continue;
        }
        auto sinks = std::make_unique<OutputSinks>();
        sinks->setErrorReport([](const QString&, const QString& text) {
            std::cerr << "tavirel-cli: " << text.toStdString() << std::endl;
        });
        const NetworkMode mode = target.kind == OutputKind::Udp ? NetworkMode::Udp : NetworkMode::TcpServer;
        if (sinks->applyNetMode(mode, QString::fromStdString(target.host), target.port) != mode) {
            error = "--output: cannot use " + target.host + ":" + std::to_string(target.port);
            return false;
        }
        OutputSinks* raw = sinks.get();
        addWriter([raw](const uint8_t* bytes, size_t length) { raw->writeToSinks(bytes, length); });
        network.push_back(std::move(sinks));
    }
    if (!options.recordKind.empty()) {
        recorder = std::make_unique<OutputSinks>();
        recorder->recording().setType(options.recordKind == "symbols" ? RecordType::Symbols : RecordType::Samples);
        if (!recorder->recording().open(QString::fromStdString(options.recordPath))) {
            error = "--record: cannot create '" + options.recordPath + "'";
            return false;
        }
    }
    return true;
}

RecordFile* TsOutputs::recording()
{
    return recorder ? &recorder->recording() : nullptr;
}

uint64_t TsOutputs::bytesLost() const
{
    return lost.load() + (recorder ? recorder->recording().bytesLost() : 0);
}

bool TsOutputs::anyFailed() const
{
    return bytesLost() > 0 || stdoutBroken.load() || (recorder && recorder->recording().failed());
}

void TsOutputs::finish()
{
    flush();
    if (recorder)
        recorder->recording().close();
    for (auto& sinks : network)   // what was handed over still goes out
        for (int i = 0; i < 200 && sinks->pendingBytes() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

TsOutputs::~TsOutputs()
{
    for (Stream& s : streams)
        if (s.owned)
            std::fclose(s.file);
}

bool TsOutputs::addStream(const OutputTarget& target, std::string& error)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (target.kind == OutputKind::Stdout) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
        streams.push_back({stdout, false, "standard output"});
        return true;
    }
    std::FILE* f = std::fopen(target.path.c_str(), "wb");
    if (f == nullptr) {
        error = "cannot create output file '" + target.path + "'";
        return false;
    }
    // Every block is one write: a failure shows where it happened.
    std::setvbuf(f, nullptr, _IONBF, 0);
    streams.push_back({f, true, "'" + target.path + "'"});
    return true;
}

void TsOutputs::addWriter(std::function<void(const uint8_t*, size_t)> writer)
{
    std::lock_guard<std::mutex> lock(mutex);
    writers.push_back(std::move(writer));
}

void TsOutputs::fail(Stream& s, int error)
{
    s.failed = true;
    if (s.file == stdout)
        stdoutBroken.store(true);
    const std::string text = "writing to " + s.name + " failed (" + std::strerror(error) + "); that output is stopped";
    if (errorReport)
        errorReport(text);
    else
        std::cerr << "tavirel-cli: error: " << text << std::endl;
}

void TsOutputs::write(const uint8_t* bytes, size_t length)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (Stream& s : streams) {
        if (s.failed) {
            lost.fetch_add(length);
            continue;
        }
        errno = 0;
        const size_t n = std::fwrite(bytes, 1, length, s.file);
        if (n != length) {
            lost.fetch_add(length - n);
            fail(s, errno != 0 ? errno : EIO);
        }
    }
    for (const auto& w : writers)
        w(bytes, length);
}

void TsOutputs::flush()
{
    std::lock_guard<std::mutex> lock(mutex);
    for (Stream& s : streams) {
        errno = 0;
        if (!s.failed && std::fflush(s.file) != 0)
            fail(s, errno != 0 ? errno : EIO);
    }
}
