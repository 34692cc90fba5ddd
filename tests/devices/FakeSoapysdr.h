// A stand-in for libSoapySDR: radios described by their arguments and what
// they offer, every call on a made device recorded with its arguments, a
// chosen call made to fail, and readStream() handing out given CS16 samples,
// then timing out, until the stream is closed.
#pragma once

#include "devices/soapysdr/SoapysdrLibrary.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class FakeSoapysdr {
public:
    struct Radio {
        std::vector<std::pair<std::string, std::string>> args;
        std::vector<double> sampleRates{250000, 1024000, 2048000};
        SoapyRange gain{0.0, 49.6, 0.0};
        std::vector<SoapyRange> frequencies{{24e6, 1.766e9, 0.0}};
        std::vector<SoapyRange> bandwidths;
        bool makeFails = false;
    };

    FakeSoapysdr();
    ~FakeSoapysdr();

    const SoapysdrLibrary& library() const { return table; }

    std::vector<Radio> radios;
    std::string failing;               // the call that fails, e.g. "setupStream"
    std::vector<int16_t> stream;       // interleaved I, Q handed out by readStream
    size_t mtu = 4096;                 // samples per read
    int readFailure = 0;               // readStream answers this once the stream is out

    // The calls so far, as "name(arguments)".
    std::vector<std::string> calls() const;
    bool streamDelivered() const;
    // readStream calls answered with readFailure so far.
    int failedReads() const;
    // Allocations of the library not given back (key/value lists, arrays).
    int outstanding() const;

private:
    static FakeSoapysdr* current;
    SoapysdrLibrary table;
    mutable std::mutex mutex;
    std::vector<std::string> recorded;
    std::string lastError;
    size_t readAt = 0;
    bool delivered = false;
    int failures = 0;
    int allocations = 0;
    const Radio* made = nullptr;

    int record(const std::string& call);
    int read(void* const* buffers, size_t numElems, long timeoutUs);
    template <typename T>
    T* allocate(const std::vector<T>& values, size_t* length);
};
