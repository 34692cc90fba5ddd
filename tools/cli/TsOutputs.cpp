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
    for (const RecordTarget& r : options.recordings) {
        auto recording = std::make_unique<RecordFile>();
        recording->setType(r.kind == "symbols" ? RecordType::Symbols : RecordType::Samples);
        if (!recording->open(QString::fromStdString(r.path))) {
            error = "--record " + r.kind + ":" + r.path + ": cannot create '" + r.path + "'";
            return false;
        }
        recorders.push_back(std::move(recording));
    }
    return true;
}

std::vector<RecordFile*> TsOutputs::recordings()
{
    std::vector<RecordFile*> all;
    for (const auto& r : recorders)
        all.push_back(r.get());
    return all;
}

uint64_t TsOutputs::bytesLost() const
{
    uint64_t total = lost.load();
    for (const auto& r : recorders)
        total += r->bytesLost();
    return total;
}

bool TsOutputs::anyFailed() const
{
    if (bytesLost() > 0 || stdoutBroken.load())
        return true;
    for (const auto& r : recorders)
        if (r->failed())
            return true;
    return false;
}

void TsOutputs::finish()
{
    flush();
    for (const auto& r : recorders)
        r->close();
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
