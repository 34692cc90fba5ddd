// A stand-in for LimeSuite: every call recorded with its arguments, a chosen
// call made to fail, and RecvStream handing out given 12-bit samples while
// the stream is started. Calls that must not overlap a read (stop, start,
// sample rate) are noted as violations when they do.
#pragma once

#include "devices/lime/LimeLibrary.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class FakeLime {
public:
    FakeLime();
    ~FakeLime();
    FakeLime(const FakeLime&) = delete;
    FakeLime& operator=(const FakeLime&) = delete;

    const LimeLibrary& library() const { return table; }

    // Set before the device uses them.
    std::vector<std::string> infos{"LimeSDR Mini, media=USB 3.0, module=FT601, addr=24607:1027, serial=1D3AC3"};
    int listError = 0;                 // GetDeviceList returns this when negative
    std::string failing;               // the call that returns -1, e.g. "Init"
    int rxChannels = 2;
    LimeRange filterRange{1400000, 130000000, 1};
    std::vector<int16_t> stream;       // interleaved I, Q handed out by RecvStream, once
    size_t samplesPerRead = 16384;     // the most one RecvStream gives

    // The calls so far, as "Name(arguments)", without the reads.
    std::vector<std::string> calls() const;
    size_t reads() const;
    bool streamDelivered() const;   // all of `stream` handed out
    bool started() const;           // StartStream without a StopStream since
    std::vector<std::string> violations() const;

private:
    static FakeLime* current;
    LimeLibrary table;
    mutable std::mutex mutex;
    std::vector<std::string> recorded;
    std::vector<std::string> overlapping;
    size_t readCount = 0;
    size_t handedOut = 0;
    bool active = false;
    bool inRead = false;
    bool delivered = false;

    int record(const std::string& name, const std::string& arguments, bool exclusive = false);
    int recv(LimeStream* stream, void* samples, size_t count, unsigned timeoutMs);
};
