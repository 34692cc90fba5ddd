#include "tx/BbHeader.h"

#include "stream/Crc.h"

#include <cstring>

namespace tx {

void writeBbHeader(BbHeader& h, uint8_t* out)
{
    out[0] = h.matype1;
    out[1] = h.matype2;
    out[2] = uint8_t(h.upl >> 8);
    out[3] = uint8_t(h.upl);
    out[4] = uint8_t(h.dfl >> 8);
    out[5] = uint8_t(h.dfl);
    out[6] = h.sync;
    out[7] = uint8_t(h.syncd >> 8);
    out[8] = uint8_t(h.syncd);
    h.crc8 = crc8Dvbs2(out, 9);
    out[9] = h.crc8;
}

double rollOffFactor(RollOff r)
{
    switch (r) {
    case RollOff::R035: return 0.35;
    case RollOff::R025: return 0.25;
    case RollOff::R020: return 0.20;
    }
    return 0.35;
}

void padBbFrame(uint8_t* frame, int kbch, int dflBits)
{
    const int used = 10 + dflBits / 8;
    std::memset(frame + used, 0, size_t(kbch / 8 - used));
}

} // namespace tx
