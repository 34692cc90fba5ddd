// DVB-S convolutional (Forney) interleaver, EN 300 421 §4.4.3: I = 12 branches,
// branch j delays its bytes by j · M · I byte periods through a FIFO of j · M
// cells (M = 17). The FIFOs start filled with zeros; the sync bytes use branch 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tx {

class ConvInterleaver {
public:
    static constexpr int kBranches = 12;
    static constexpr int kDepth = 17;

    ConvInterleaver();

    // Interleaves `n` bytes from `in` to `out` (may be the same buffer).
    void process(const uint8_t* in, uint8_t* out, int n);

private:
    std::vector<uint8_t> cells;             // all FIFOs, one after the other
    int start[kBranches] = {};              // first cell of each FIFO
    int position[kBranches] = {};           // next cell to read and overwrite
    int branch = 0;
};

} // namespace tx
