#include "stream/GseTrace.h"

#include "stream/TraceFormat.h"

std::string formatGsePacket(const GsePacketTrace& t)
{
    std::string line = traceFormat("GSE Header: S%hhu E%hhu TL%hhu LEN: 0x%04hx, ptr: 0x%04lx\t", (unsigned char)t.start,
                                   (unsigned char)t.end, (unsigned char)t.labelType, (unsigned short)t.length,
                                   (unsigned long)t.offset);
    if (t.padding)
        return line + "PADDING DATA";
    if (t.fragmentId >= 0)
        line += traceFormat(" FRAG_ID: 0x%02x ", unsigned(t.fragmentId));
    if (t.totalLength >= 0)
        line += traceFormat(" TOTAL_LEN: 0x%04x ", unsigned(t.totalLength));
    if (t.protocol >= 0)
        line += traceFormat(" PROTO: 0x%04x ", unsigned(t.protocol));
    if (t.hasData) {
        line += traceFormat(" dptr: 0x%04lx\tDATA:", (unsigned long)t.dataOffset);
        for (size_t i = 0; i < t.dataBytes; ++i)
            line += traceFormat(" %02x", unsigned(t.data[i]));
        line += traceFormat(" | LEN: 0x%04x", unsigned(t.payloadLength));
    }
    return line;
}

std::string formatGseComplete(const uint8_t* crc)
{
    return traceFormat("  Complete GSE Frame!  CRC32: %02x %02x %02x %02x", unsigned(crc[0]), unsigned(crc[1]),
                       unsigned(crc[2]), unsigned(crc[3]));
}

std::string formatGseOverflow(unsigned fragmentId, size_t limit)
{
    return traceFormat("PDU Buffer Overflow! fragment 0x%02x exceeded %d bytes!", fragmentId, int(limit));
}
