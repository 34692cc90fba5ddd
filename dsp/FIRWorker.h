// The receive matched filter: RRC with 2× interpolation and gain control.
#pragma once

#include "core/Worker.h"
#include "dsp/MatchedFilter.h"

#include <mutex>

// Input: complex 16-bit samples; output: a buffer of twice the input size,
// filled with two complex 16-bit samples per input sample. Until a filter is
// designed (or with 0 taps) the output is left as allocated (zeros).
class FIRWorker : public Worker {
public:
    explicit FIRWorker(DoneCallback onDone);
    ~FIRWorker() override;
    size_t objectSize() const override { return sizeof(*this); }
    void process(WorkBuffer* input, WorkBuffer* output) override;
    // Two output samples for every input sample.
    static constexpr size_t outputBytes(size_t inputBytes) { return 2 * inputBytes; }

    // Designs and installs the filter for the device rate, symbol rate, tap
    // count (a multiple of 16 up to 256; 0 disables) and roll-off.
    void designMatchedFilter(uint64_t sampleRate, int32_t symbolRate, int32_t taps, float rollOff);

    // The installed design with another roll-off; nothing while no filter is
    // installed or when it has this roll-off already. True when redesigned.
    // Any thread: the filter changes between two blocks.
    bool changeRollOff(float rollOff);
    // The roll-off of the last design asked for.
    float rollOff();

    // Current automatic gain, for tests and displays.
    float agcGain();
    // Taps of the installed filter; 0 when it is off.
    int tapCount();

private:
    struct Design {
        uint64_t sampleRate = 0;
        int32_t symbolRate = 0;
        int32_t taps = 0;
        float rollOff = 0.35f;
    };
    std::mutex paramMutex;
    MatchedFilter filter;
    Design design;   // the last asked for
};
