#include "SampleReader.h"

#include "core/BufferAllocator.h"
#include "core/ProcessingChain.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

int16_t fromFloat(float v)
{
    if (!(v == v))
        return 0;   // NaN
    const float scaled = v * 32768.0f;
    return int16_t(std::clamp(scaled, -32768.0f, 32767.0f));
}

} // namespace

size_t convertSamples(const uint8_t* bytes, size_t size, SampleEncoding encoding, const SampleCallback& callback)
{
    const size_t step = size_t(bytesPerSample(encoding));
    const size_t whole = size - size % step;
    for (size_t at = 0; at < whole; at += step) {
        const uint8_t* p = bytes + at;
        switch (encoding) {
        case SampleEncoding::S8:
            callback(int16_t(int8_t(p[0]) * 256), int16_t(int8_t(p[1]) * 256));
            break;
        case SampleEncoding::U8:   // offset binary: 128 is zero
            callback(int16_t((int(p[0]) - 128) * 256), int16_t((int(p[1]) - 128) * 256));
            break;
        case SampleEncoding::S16: {
            int16_t iq[2];
            std::memcpy(iq, p, 4);
            callback(iq[0], iq[1]);
            break;
        }
        case SampleEncoding::F32: {
            float iq[2];
            std::memcpy(iq, p, 8);
            callback(fromFloat(iq[0]), fromFloat(iq[1]));
            break;
        }
        }
    }
    return whole;
}

SampleReader::SampleReader(BufferAllocator& pool, SampleCallback& callback, SampleEncoding encoding)
    : pool(pool), callback(callback), encoding(encoding)
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
                         std::function<void()> inputEnded)
{
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
    size_t carried = 0;   // bytes of a part sample kept from the last read
    while (!stopping.load()) {
        while (pool.allocatedCount() > kHighWater && !stopping.load())
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        const size_t got = std::fread(chunk.data() + carried, 1, chunk.size() - carried, file);
        if (got == 0)
            break;
        const size_t have = carried + got;
        const size_t used = convertSamples(chunk.data(), have, encoding, callback);
        carried = have - used;
        std::memmove(chunk.data(), chunk.data() + used, carried);
        if (samplesRead)
            samplesRead(used / size_t(bytesPerSample(encoding)));
    }
    // The whole blocks read are decoded first (the block being filled holds
    // one buffer), so that what the signal left is seen before the silence.
    for (int i = 0; i < 10000 && pool.allocatedCount() > 1 && !stopping.load(); ++i)
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    if (ended)
        ended();
    // A part sample at the very end is dropped. Push the last part block
    // through with silence.
    for (int k = 0; k < ProcessingChain::kBlockSamples; ++k)
        callback(0, 0);
    if (done)
        done();
}
