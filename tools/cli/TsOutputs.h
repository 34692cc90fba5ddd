// Where tavirel-cli sends the transport stream (and GSE PDUs): files,
// standard output and the network sinks, every write to each of them.
#pragma once

#include "CliOptions.h"

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

    // Opens a file or standard output target; false with `error` set when
    // the file cannot be created.
    bool addStream(const OutputTarget& target, std::string& error);
    // Any other writer (the network sinks).
    void addWriter(std::function<void(const uint8_t*, size_t)> writer);

    // From the releasing stage thread, in transmission order.
    void write(const uint8_t* bytes, size_t length);
    void flush();

private:
    std::mutex mutex;   // the files are written from one thread at a time
    std::vector<std::FILE*> files;
    std::vector<bool> owned;
    std::vector<std::function<void(const uint8_t*, size_t)>> writers;
};
