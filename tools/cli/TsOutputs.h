// Where tavirel-cli sends the transport stream (and GSE PDUs): files,
// standard output and the network sinks, every write to each of them.
#pragma once

#include "CliOptions.h"
#include "stream/OutputSinks.h"
#include "stream/RecordFile.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TsOutputs {
public:
    TsOutputs() = default;
    ~TsOutputs();
    TsOutputs(const TsOutputs&) = delete;
    TsOutputs& operator=(const TsOutputs&) = delete;

    // Every output of the options: files and standard output, network
    // targets (each with sinks of its own, on their own thread) and the
    // recordings. False with `error` naming the option when one cannot be
    // opened.
    bool open(const CliOptions& options, std::string& error);
    // The recordings of symbols and of samples asked for (none, one or both).
    std::vector<RecordFile*> recordings();

    // Opens a file or standard output target; false with `error` set when
    // the file cannot be created.
    bool addStream(const OutputTarget& target, std::string& error);
    // Any other writer (the network sinks).
    void addWriter(std::function<void(const uint8_t*, size_t)> writer);
    // Where a failed output is reported (once per output); standard error
    // when not set.
    void setErrorReport(std::function<void(const std::string&)> report) { errorReport = std::move(report); }

    // From the releasing stage thread, in transmission order. A file or
    // standard output whose write fails (disk full, reader gone) is reported
    // and written no more; what it missed is counted.
    void write(const uint8_t* bytes, size_t length);
    // Flushes the files, closes the recording, and waits a little for the
    // network sinks to send what they were handed.
    void finish();

    // Standard output failed: the stream it carried is lost.
    bool stdoutFailed() const { return stdoutBroken.load(); }
    // Bytes that failed outputs (and failed recordings) did not take.
    uint64_t bytesLost() const;
    // Some output failed.
    bool anyFailed() const;

private:
    struct Stream {
        std::FILE* file;
        bool owned;
        std::string name;   // "standard output" or the path
        bool failed = false;
    };
    void fail(Stream& s, int error);
    void flush();

    std::mutex mutex;   // the files are written from one thread at a time
    std::vector<Stream> streams;
    std::vector<std::function<void(const uint8_t*, size_t)>> writers;
    std::function<void(const std::string&)> errorReport;
    std::atomic<bool> stdoutBroken{false};
    std::atomic<uint64_t> lost{0};
    std::vector<std::unique_ptr<OutputSinks>> network;
    std::vector<std::unique_ptr<RecordFile>> recorders;
};
