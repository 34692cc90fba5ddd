// The DVB-S transmit chain of EN 300 421 §4: energy dispersal → RS(204, 188) →
// convolutional interleaver → punctured convolutional code → QPSK.
#pragma once

#include "tx/ConvEncoder.h"
#include "tx/ConvInterleaver.h"
#include "tx/EnergyDispersal.h"
#include "tx/ReedSolomon.h"
#include "tx/TsSource.h"

#include <array>
#include <vector>

namespace tx {

class DvbsTransmitter {
public:
    DvbsTransmitter(DvbsRate rate, TsPacketSource& source);

    // Codes the next TS packet and appends the QPSK symbols it completes;
    // false (nothing appended) when the source has no packet.
    bool nextPacket(std::vector<cf32>& symbols);

    // About the packet last coded.
    const std::array<uint8_t, 204>& lastRsPacket() const { return rsPacket; }    // before interleaving
    const std::array<uint8_t, 204>& lastInterleaved() const { return interleaved; }

private:
    TsPacketSource& source;
    EnergyDispersal dispersal;
    ReedSolomon rs;
    ConvInterleaver interleaver;
    ConvEncoder encoder;
    std::array<uint8_t, 204> rsPacket{};
    std::array<uint8_t, 204> interleaved{};
};

} // namespace tx
