// Samples as a device hands them on, one by one (its sample callback) or in
// runs (its block callback), collected from whichever thread delivers them.
#pragma once

#include "devices/InputDevice.h"

#include <mutex>
#include <vector>

struct ReceivedSamples {
    SampleCallback callback = [this](int16_t i, int16_t q) {
        std::lock_guard<std::mutex> lock(mutex);
        iq.push_back(i);
        iq.push_back(q);
    };
    SampleBlockCallback runCallback = [this](const int16_t* samples, size_t count) {
        std::lock_guard<std::mutex> lock(mutex);
        runs.emplace_back(samples, samples + 2 * count);
    };

    // Complex samples through the sample callback.
    size_t count() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return iq.size() / 2;
    }
    std::vector<int16_t> samples() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return iq;
    }
    std::vector<std::vector<int16_t>> blockRuns() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return runs;
    }

private:
    mutable std::mutex mutex;
    std::vector<int16_t> iq;
    std::vector<std::vector<int16_t>> runs;
};
