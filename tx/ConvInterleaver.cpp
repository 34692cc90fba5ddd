#include "tx/ConvInterleaver.h"

namespace tx {

ConvInterleaver::ConvInterleaver()
{
    int total = 0;
    for (int j = 0; j < kBranches; ++j) {
        start[j] = total;
        total += j * kDepth;
    }
    cells.assign(size_t(total), 0);
}

void ConvInterleaver::process(const uint8_t* in, uint8_t* out, int n)
{
    for (int i = 0; i < n; ++i) {
        const uint8_t byte = in[i];
        if (branch == 0) {
            out[i] = byte;
        } else {
            const int length = branch * kDepth;
            uint8_t& cell = cells[size_t(start[branch] + position[branch])];
            out[i] = cell;
            cell = byte;
            if (++position[branch] == length)
                position[branch] = 0;
        }
        branch = (branch + 1) % kBranches;
    }
}

} // namespace tx
