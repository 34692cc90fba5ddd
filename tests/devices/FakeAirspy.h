// A stand-in for libairspy: every call recorded with its arguments, a chosen
// call made to fail, chosen radios by serial number, and start_rx()
// delivering given 16-bit I, Q samples transfer by transfer from a thread of
// its own until stop_rx() or close().
#pragma once

#include "devices/airspy/AirspyLibrary.h"
#include "tests/devices/FakeStreamThread.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class FakeAirspy {
public:
    struct Radio {
        uint64_t serial;
        std::string version;
        bool opens = true;   // else open_sn() says it is not found
    };
    static constexpr int kNotFound = -5;

    FakeAirspy();
    ~FakeAirspy();

    const AirspyLibrary& library() const { return table; }

    std::vector<Radio> radios{{0x26A464DC2B4D5B13ull, "AirSpy NOS v1.0.0-rc10-6-g4008185 2020-05-08"}};
    AirspyLibrary::Version version{1, 0, 11};
    std::vector<uint32_t> sampleRates{10000000, 2500000};
    std::string failing;              // the call that returns an error, e.g. "start_rx"
    std::vector<int16_t> stream;      // interleaved I, Q: what the receive thread delivers
    int transferSamples = 65536;      // complex samples per transfer

    // The calls so far, as "name(arguments)".
    std::vector<std::string> calls() const;
    bool streaming() const { return receiver.running(); }
    bool streamDelivered() const { return receiver.delivered(); }

private:
    static FakeAirspy* current;
    AirspyLibrary table;
    mutable std::mutex mutex;
    std::vector<std::string> recorded;
    FakeStreamThread receiver;

    int record(const std::string& call);
    int openSerial(airspy_device** device, uint64_t serial);
    int readSampleRates(uint32_t* buffer, uint32_t count);
    int startRx(AirspyLibrary::Receiver* target);
};
