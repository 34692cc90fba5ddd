// A stand-in for librtlsdr: every call recorded with its arguments, a chosen
// call made to fail, and read_async() streaming given bytes buffer by buffer
// until cancelled.
#pragma once

#include "devices/rtlsdr/RtlsdrLibrary.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class FakeRtlsdr {
public:
    struct Dongle {
        std::string manufacturer, product, serial, name;
        bool usbStringsReadable = true;
    };

    FakeRtlsdr();
    ~FakeRtlsdr();

    const RtlsdrLibrary& library() const { return table; }

    std::vector<Dongle> dongles{{"Realtek", "RTL2838UHIDIR", "00000001", "Generic RTL2832U OEM"}};
    std::string failing;                // the call that returns an error, e.g. "open"
    std::vector<uint8_t> stream;        // what read_async delivers, then it waits
    // A dongle on the air instead: what it receives at each frequency
    // (nothing but the idle level where none is given), repeated and paced
    // at this sample rate until cancelled; a retune shows at the next buffer.
    std::map<uint32_t, std::vector<uint8_t>> bands;
    double pacedSampleRate = 2400000;
    uint32_t bufferBytes = 16384;

    // The calls so far, as "name(arguments)".
    std::vector<std::string> calls() const;
    bool streamDelivered() const;
    bool reading() const;

private:
    static FakeRtlsdr* current;
    RtlsdrLibrary table;
    mutable std::mutex mutex;
    std::condition_variable cancelled;
    std::vector<std::string> recorded;
    bool cancelRequested = false;
    bool inRead = false;
    bool delivered = false;
    uint32_t tunedHz = 0;

    void deliverBands(RtlsdrLibrary::ReadCallback callback, void* context);

    int record(const std::string& call);
    int readAsync(RtlsdrLibrary::ReadCallback callback, void* context);
    int cancel();
};
