// Reads IQ samples from a file or standard input on its own thread and feeds
// them to the chain without ever dropping any: it waits while the chain's
// pool is above a high-water mark, so the input goes as fast as the chain
// decodes.
#pragma once

#include "CliOptions.h"
#include "devices/InputDevice.h"
#include "devices/SampleFormat.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

class BufferAllocator;

class SampleReader {
public:
    // `ready` (when given) says whether the chain takes more now; else the
    // pool's use against the chain's high-water mark.
    SampleReader(BufferAllocator& pool, SampleBlockCallback& runs, IqFormat format, std::function<bool()> ready = {});
    ~SampleReader();

    // Opens a file (empty path: standard input). False when it cannot be read.
    bool open(const std::string& path);
    // True when `path` can be opened for reading as a stream of bytes (a
    // file, a pipe, a device; not a directory).
    static bool readable(const std::string& path);
    // Reads on a thread until the input ends or stop() is called; then waits
    // (a few seconds at most) for the chain to work through the whole blocks
    // read, calls `inputEnded`, then `flushPart` (which sends the part block
    // gathered so far down the chain) and `finished` (all on that thread).
    // `inputEnded` sees the receiver as the signal left it, before the
    // silence that fills up that last block.
    void start(std::function<void(uint64_t samples)> onSamples, std::function<void()> finished,
               std::function<void()> inputEnded = {}, std::function<void()> flushPart = {});
    void stop();

private:
    void run();
    std::function<void()> flush;

    BufferAllocator& pool;
    std::function<bool()> ready;
    SampleBlockCallback& runs;   // the converted samples of each read
    IqByteStream stream;   // a part sample at the end of one read joins the next
    std::FILE* file = nullptr;
    bool ownsFile = false;
    std::atomic<bool> stopping{false};
    std::function<void(uint64_t)> samplesRead;
    std::function<void()> done;
    std::function<void()> ended;
    std::thread thread;
};
