#include "tx/TsBbFramer.h"

#include "stream/Crc.h"

#include <algorithm>
#include <cstring>

namespace tx {

TsBbFramer::TsBbFramer(TsPacketSource& source, RollOff rollOff, int isi)
    : source(source), rollOff(rollOff), isi(isi)
{
}

bool TsBbFramer::loadPacket()
{
    if (!source.nextPacket(packet.data()))
        return false;
    packet[0] = previousCrc;                              // §5.1.4: sync → CRC-8 of the previous packet
    previousCrc = crc8Dvbs2(packet.data() + 1, kTsPacketSize - 1);
    packetOffset = 0;
    return true;
}

bool TsBbFramer::build(int kbch, bool ccm, uint8_t* frame)
{
    const int capacity = kbch / 8 - 10;
    uint8_t* field = frame + 10;
    int filled = 0;
    int syncd = -1;
    while (filled < capacity) {
        if (packetOffset == kTsPacketSize) {
            if (!loadPacket())
                break;
        }
        if (packetOffset == 0 && syncd < 0)
            syncd = filled * 8;
        const int n = std::min(capacity - filled, kTsPacketSize - packetOffset);
        std::memcpy(field + filled, packet.data() + packetOffset, size_t(n));
        filled += n;
        packetOffset += n;
    }
    if (filled == 0)
        return false;
    const bool single = isi < 0;
    header.matype1 = uint8_t(matype::kTransportStream | (single ? matype::kSingleStream : 0) |
                             (ccm ? matype::kCcm : 0) | int(rollOff));
    header.matype2 = single ? 0 : uint8_t(isi);
    header.upl = kTsPacketSize * 8;
    header.dfl = uint16_t(filled * 8);
    header.sync = kTsSync;
    header.syncd = syncd < 0 ? 0xFFFF : uint16_t(syncd); // 0xFFFF: no packet starts here
    writeBbHeader(header, frame);
    padBbFrame(frame, kbch, header.dfl);
    return true;
}

bool MisBbFramer::build(int kbch, bool ccm, uint8_t* frame)
{
    for (size_t tried = 0; tried < streams.size(); ++tried) {
        BbFrameBuilder* stream = streams[next];
        next = (next + 1) % streams.size();
        if (stream->build(kbch, ccm, frame))
            return true;
    }
    return false;
}

} // namespace tx
