#include "TsOutputs.h"

#include <cerrno>
#include <cstring>
#include <iostream>

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
