// A stand-in for libiio with one PlutoSDR: every call recorded with its
// arguments, chosen steps made to fail, and buffer refills handing out given
// 12-bit samples, then timing out as the library does when no data comes.
#pragma once

#include "devices/pluto/IioLibrary.h"

#include <cstdint>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class FakeIio {
public:
    struct Context {
        std::string description, uri;
    };

    FakeIio();
    ~FakeIio();
    FakeIio(const FakeIio&) = delete;
    FakeIio& operator=(const FakeIio&) = delete;

    const IioLibrary& library() const { return table; }

    // Set before the device uses them.
    std::vector<Context> local{{"0456:b673 (Analog Devices Inc. PlutoSDR (ADALM-PLUTO)), serial=104473", "usb:1.6.5"}};
    // Reached by create_network_context with the host named in `uri` ("ip:<host>").
    std::vector<Context> network{{"192.168.2.1 Linux pluto 5.10.0 #1 SMP", "ip:192.168.2.1"}};
    // What fails: "scan", a context URI, "ad9361-phy" or "cf-ad9361-lpc"
    // (not found), "create_buffer", "refill".
    std::string failing;
    std::vector<int16_t> stream;   // interleaved I, Q handed out by the refills, once

    // The calls so far, as "name(arguments)", without the refills.
    std::vector<std::string> calls() const;
    size_t refills() const;
    // How many threads have refilled so far.
    size_t refillThreads() const;
    bool streamDelivered() const;   // all of `stream` handed out
    int buffersAlive() const;       // created and not yet destroyed
    int contextsAlive() const;

private:
    struct OpenContext {
        std::string uri, description;
    };
    struct Channel {
        const char* device;
        const char* name;
        bool output;
    };

    static FakeIio* current;
    IioLibrary table;
    mutable std::mutex mutex;
    std::vector<std::string> recorded;
    std::list<OpenContext> contexts;   // stable addresses: the handles
    std::vector<int16_t> bufferData;
    size_t refillCount = 0;
    std::set<long> refillingThreads;   // kernel thread ids, which are not reused at once
    size_t handedOut = 0;
    int liveBuffers = 0;
    bool sawEmptyRefill = false;
    bool delivered = false;

    void record(const std::string& call);
    bool fails(const std::string& what) const;
    iio_context* openContext(const std::string& uri, const std::vector<Context>& known);
    ssize_t refill();
};
