// DVB-S transport multiplex adaptation and energy dispersal, EN 300 421 §4.4.1:
// PRBS 1 + x^14 + x^15 restarted every eight packets, the first sync byte of
// each group inverted (0xB8), the other sync bytes sent unscrambled while the
// PRBS keeps running.
#pragma once

#include "tx/BbScrambler.h"

#include <cstdint>

namespace tx {

class EnergyDispersal {
public:
    // One 188-byte packet in place; the group starts with the first packet.
    void apply(uint8_t* packet);

private:
    BbScrambler prbs; // the same generator and initial state as the BB scrambler
    int packetInGroup = 0;
};

} // namespace tx
