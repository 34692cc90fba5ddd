// Where each block in the chain began in the input: the count of samples
// taken before its first. A block keeps its origin through the stages that
// turn it into another (the filter's output, the resampler's symbols) until
// the demodulator asks for it, so that a frame can say at which input
// sample it began.
#pragma once

#include "core/WorkBuffer.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

class BlockOrigins {
public:
    // `block` holds the input from sample `origin` on.
    void entered(const WorkBuffer* block, uint64_t origin);
    // `from` went on as `to` (nullptr: dropped, its origin forgotten).
    void passed(const WorkBuffer* from, const WorkBuffer* to);
    // The origin of `block`, forgotten from now on; none when it was never
    // entered (or was dropped on the way).
    std::optional<uint64_t> take(const WorkBuffer* block);
    void clear();

private:
    struct Entry {
        const WorkBuffer* block;
        uint64_t origin;
    };
    std::mutex mutex;
    std::vector<Entry> entries;   // at most the blocks on their way: a few dozen
};
