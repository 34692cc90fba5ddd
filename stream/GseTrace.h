// The GSE parser's debug trace: what it saw of each packet, and the lines an
// owner prints for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One packet as far as the parser got with it (−1: a field not reached or
// not present).
struct GsePacketTrace {
    unsigned start = 0, end = 0, labelType = 0;
    size_t length = 0;          // the header's length field
    size_t offset = 0;          // of the packet in the data field
    bool padding = false;
    int fragmentId = -1;
    int totalLength = -1;
    int protocol = -1;
    bool hasData = false;       // the payload was reached
    size_t dataOffset = 0;
    uint8_t data[8] = {};
    size_t dataBytes = 0;       // of the payload's first eight
    long payloadLength = 0;
};

// "GSE Header: S1 E1 TL2 LEN: 0x0066, ptr: 0x0000\t PROTO: 0x0800  dptr: …"
std::string formatGsePacket(const GsePacketTrace& packet);
// "  Complete GSE Frame!  CRC32: xx xx xx xx"
std::string formatGseComplete(const uint8_t* crc);
// "PDU Buffer Overflow! fragment 0x07 exceeded 65536 bytes!": a fragment
// passed the reassembly buffer of `limit` bytes.
std::string formatGseOverflow(unsigned fragmentId, size_t limit);
