#include "stream/SdtTrace.h"

#include "stream/TraceFormat.h"

std::vector<std::string> formatSdtTrace(const SdtTrace& e)
{
    const unsigned* v = e.values;
    switch (e.kind) {
    case SdtTrace::Kind::Packet:
        return {traceFormat("SYNC: 0x%02x, PUSI: %u, PID: 0x%04x, ADAPT: 0x%02x", v[0], v[1], v[2], v[3])};
    case SdtTrace::Kind::Section:
        return {traceFormat("Valid SDT with length of %d bytes", int(e.length)), "DATA:" + traceHex(e.bytes, e.length)};
    case SdtTrace::Kind::Table:
        return {traceFormat("table id: 0x%02x, section length: 0x%04x, section: %u of %u:", v[0], v[1], v[2], v[3])};
    case SdtTrace::Kind::Service:
        return {traceFormat(" Service 0x%04x has %d bytes of descriptors:", v[0], int(v[1]))};
    case SdtTrace::Kind::Descriptor: {
        // Bytes a terminal might act on (controls, DEL and the 8-bit ones)
        // are shown as full stops.
        std::string chars;
        for (size_t i = 0; i < e.length; ++i)
            chars += e.bytes[i] < 0x20 || e.bytes[i] >= 0x7F ? '.' : char(e.bytes[i]);
        return {traceFormat("  Descriptor Tag: 0x%02x, Len: %u bytes, Payload:", v[0], v[1]) + traceHex(e.bytes, e.length) +
                " \"" + chars + "\""};
    }
    case SdtTrace::Kind::BytesLeft:
        return {traceFormat("SDT bytes left: %d", int(v[0]))};
    case SdtTrace::Kind::Crc:
        return {"CRC32:" + traceHex(e.bytes, e.length)};
    }
    return {};
}
