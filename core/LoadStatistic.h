// Per-worker load: the share of time spent working, over the last items.
#pragma once

#include <atomic>
#include <cstdint>

// Load of one item in percent: the time from the end of the last wait to now,
// over the time from the start of that wait to now. Counter values are from
// any monotonic clock; before the first wait both wait marks are 0, which
// gives 100.
inline uint8_t loadPercent(uint64_t waitStart, uint64_t waitEnd, uint64_t now)
{
    const uint64_t span = now - waitStart;
    if (span == 0)
        return 100;
    return static_cast<uint8_t>((now - waitEnd) * 100 / span);
}

// Ring of the last 32 load figures with a running sum. The sum covers the last
// 31 figures: each new figure replaces the one written 31 items earlier.
// Written by the worker thread only; the sum may be read from any thread.
struct LoadStatistic {
    static constexpr int kLength = 32;

    uint8_t history[kLength] = {};
    std::atomic<int32_t> sum{0};
    int32_t pos = 0;

    void add(uint8_t load)
    {
        history[pos] = load;
        const int32_t next = (pos + 1) % kLength;
        sum.store(sum.load(std::memory_order_relaxed) + load - history[next],
                  std::memory_order_relaxed);
        pos = next;
    }
};
