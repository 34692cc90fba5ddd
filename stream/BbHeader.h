// The 80-bit DVB-S2 baseband header, EN 302 307-1 §5.1.6, as the receiver
// reads it (the transmitter writes it with tx/BbHeader.h).
#pragma once

#include "stream/Crc.h"

#include <cstdint>

struct BbHeaderFields {
    uint8_t matype1 = 0, isi = 0, sync = 0, crc = 0;
    uint16_t upl = 0, dfl = 0, syncd = 0;

    int tsgs() const { return matype1 >> 6; }
    int rollOffCode() const { return matype1 & 3; }
};

// The fields of frame bytes 0 … 9 (big-endian).
inline BbHeaderFields parseBbHeader(const uint8_t* f)
{
    BbHeaderFields h;
    h.matype1 = f[0];
    h.isi = f[1];
    h.upl = uint16_t(f[2] << 8 | f[3]);
    h.dfl = uint16_t(f[4] << 8 | f[5]);
    h.sync = f[6];
    h.syncd = uint16_t(f[7] << 8 | f[8]);
    h.crc = f[9];
    return h;
}

// True when the CRC-8 in byte 9 matches bytes 0 … 8.
inline bool bbHeaderIntact(const uint8_t* frame)
{
    return crc8Dvbs2(frame, 9) == frame[9];
}
