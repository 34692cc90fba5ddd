// A stand-in for libhackrf: every call recorded with its arguments, a chosen
// call made to fail, a device list of chosen boards, and start_rx()
// delivering given bytes transfer by transfer from a thread of its own until
// stop_rx() or close().
#pragma once

#include "devices/hackrf/HackrfLibrary.h"
#include "tests/devices/FakeStreamThread.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class FakeHackrf {
public:
    struct Board {
        uint32_t usbBoardId;
        std::string serial;
        bool serialReadable = true;   // else the list holds no serial text
    };

    FakeHackrf();
    ~FakeHackrf();

    const HackrfLibrary& library() const { return table; }
    // The list device_list() hands out.
    hackrf_device_list* deviceList() const { return reinterpret_cast<hackrf_device_list*>(&listToken); }

    std::vector<Board> boards{{0x6089, "0000000000000000a06063c8234e925f"}};
    std::string failing;              // the call that returns an error, e.g. "start_rx"
    bool listUnavailable = false;     // device_list() gives null
    std::vector<uint8_t> stream;      // what the receive thread delivers
    int transferBytes = 262144;       // valid bytes per transfer
    int transferSpare = 0;            // buffer bytes after the valid ones, never samples
    // As a radio delivers: each transfer when its samples have been taken at
    // this rate (0: as fast as the device takes them), `stream` repeated
    // until this many bytes have gone (0: once).
    double pacedSampleRate = 0;
    uint64_t loopedBytes = 0;
    // How late the latest transfer left against the pace (after streaming).
    double behindSeconds() const { return behind; }

    // The calls so far, as "name(arguments)".
    std::vector<std::string> calls() const;
    bool streaming() const { return receiver.running(); }
    bool streamDelivered() const { return receiver.delivered(); }

private:
    static FakeHackrf* current;
    HackrfLibrary table;
    mutable int listToken = 0;   // its address is the list
    mutable std::mutex mutex;
    std::vector<std::string> recorded;
    FakeStreamThread receiver;
    double behind = 0;   // written by the receive thread, read once it ended

    int record(const std::string& call);
    int startRx(HackrfLibrary::Receiver* target);
    const Board& board(const hackrf_device_list* list, int index) const;
};
