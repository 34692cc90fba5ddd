#include "tx/EnergyDispersal.h"

#include "tx/TsSource.h"

namespace tx {

void EnergyDispersal::apply(uint8_t* packet)
{
    const uint8_t* seq = prbs.sequence().data();
    const int start = packetInGroup * kTsPacketSize; // byte index within the group
    packet[0] = packetInGroup == 0 ? uint8_t(~kTsSync) : kTsSync;
    for (int b = 1; b < kTsPacketSize; ++b)
        packet[b] ^= seq[start + b - 1]; // the PRBS starts with the byte after the first sync
    packetInGroup = (packetInGroup + 1) % 8;
}

} // namespace tx
