// Baseband scrambling, EN 302 307-1 §5.2.2: PRBS 1 + x^14 + x^15, loaded with
// 100101010000000 at the start of every BBFRAME, XORed over all K_bch bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tx {

class BbScrambler {
public:
    BbScrambler();

    // XORs the sequence over the first `bytes` bytes of a frame, in place.
    void apply(uint8_t* frame, int bytes) const;

    // The sequence itself, packed MSB first (its first bytes: 03 F6 08 34 …).
    const std::vector<uint8_t>& sequence() const { return prbs; }

private:
    std::vector<uint8_t> prbs;
};

} // namespace tx
