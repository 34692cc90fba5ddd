#include "SampleReader.h"

#include "core/BufferAllocator.h"
#include "receiver/ProcessingChain.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

SampleReader::SampleReader(BufferAllocator& pool, SampleBlockCallback& runs, IqFormat format, std::function<bool()> ready)
    : pool(pool), ready(std::move(ready)), runs(runs), stream(format)
{
}

SampleReader::~SampleReader()
{
    stop();
    if (ownsFile && file != nullptr)
        std::fclose(file);
}

bool SampleReader::open(const std::string& path)
{
    if (path.empty()) {
        file = stdin;
        ownsFile = false;
        return true;
    }
    if (!readable(path))
        return false;
    file = std::fopen(path.c_str(), "rb");
    ownsFile = file != nullptr;
    return file != nullptr;
}

bool SampleReader::readable(const std::string& path)
{
    // A directory opens for reading but gives nothing.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    return ::access(path.c_str(), R_OK) == 0;
}

void SampleReader::start(std::function<void(uint64_t)> onSamples, std::function<void()> finished,
                         std::function<void()> inputEnded, std::function<void()> flushPart)
{
    flush = std::move(flushPart);
    samplesRead = std::move(onSamples);
    done = std::move(finished);
    ended = std::move(inputEnded);
    thread = std::thread([this] { run(); });
}

void SampleReader::stop()
{
    stopping.store(true);
    if (thread.joinable())
        thread.join();
}

void SampleReader::run()
{
    std::vector<uint8_t> chunk(1 << 16);
    while (!stopping.load()) {
        while (!(ready ? ready() : pool.allocatedCount() <= ProcessingChain::kInputHighWater) && !stopping.load())
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        const size_t got = std::fread(chunk.data(), 1, chunk.size(), file);
        if (got == 0)
            break;
        const size_t samples = stream.pushRuns(chunk.data(), got, runs);
        if (samplesRead)
            samplesRead(samples);
    }
    // The whole blocks read are decoded first (the block being filled holds
    // one buffer), so that what the signal left is seen before the silence.
    for (int i = 0; i < 10000 && pool.allocatedCount() > 1 && !stopping.load(); ++i)
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    if (ended)
        ended();
    // A part sample at the very end is dropped; the last part block goes
    // through filled up with silence, which no recording sees.
    if (flush)
        flush();
    if (done)
        done();
}
