#include "tx/DvbsTransmitter.h"

namespace tx {

DvbsTransmitter::DvbsTransmitter(DvbsRate rate, TsPacketSource& source)
    : source(source), encoder(rate)
{
}

bool DvbsTransmitter::nextPacket(std::vector<cf32>& symbols)
{
    if (!source.nextPacket(rsPacket.data()))
        return false;
    dispersal.apply(rsPacket.data());
    rs.encode(rsPacket.data(), rsPacket.data());
    interleaver.process(rsPacket.data(), interleaved.data(), 204);
    encoder.encode(interleaved.data(), 204, symbols);
    return true;
}

} // namespace tx
