// Endless transport stream packets whose bytes follow a packet counter: the
// project's transmitter then sends known, ever-changing frames.
#pragma once

#include "tx/TsSource.h"

#include <cstdint>

namespace testsupport {

class PatternTs : public tx::TsPacketSource {
public:
    bool nextPacket(uint8_t* p) override
    {
        p[0] = 0x47;
        for (int i = 1; i < 188; ++i)
            p[i] = uint8_t(count * 13 + i);
        ++count;
        return true;
    }
    uint32_t count = 0;
};

} // namespace testsupport
