#include "stream/TsContinuity.h"

#include "stream/TsPacket.h"

void TsContinuity::addPackets(const uint8_t* bytes, size_t length)
{
    for (size_t at = 0; at + kTsPacketBytes <= length; at += kTsPacketBytes)
        addPacket(bytes + at);
}

void TsContinuity::addPacket(const uint8_t* p)
{
    ++packetCount;
    if (p[0] != kTsSyncByte || (p[1] & 0x80) != 0) {
        ++damagedCount;
        return;
    }
    const uint16_t pid = uint16_t(((p[1] & 0x1F) << 8) | p[2]);
    const bool payload = (p[3] & 0x10) != 0;
    const bool discontinuity = (p[3] & 0x20) != 0 && p[4] > 0 && (p[5] & 0x80) != 0;
    const int8_t counter = int8_t(p[3] & 0x0F);
    if (pid == 0x1FFF)
        return;   // null packets carry no meaningful counter
    const int8_t last = lastCounter[pid];
    lastCounter[pid] = counter;
    if (last < 0 || discontinuity) {
        repeated[pid] = false;
        return;
    }
    if (!payload) {
        // Without payload the counter must not move.
        if (counter != last)
            ++errorsByPid[pid];
        return;
    }
    if (counter == last && !repeated[pid]) {
        repeated[pid] = true;   // one duplicate is allowed
        return;
    }
    repeated[pid] = false;
    if (counter != ((last + 1) & 0x0F))
        ++errorsByPid[pid];
}

uint64_t TsContinuity::totalErrors() const
{
    uint64_t total = 0;
    for (const auto& e : errorsByPid)
        total += e.second;
    return total;
}
