#include "stream/GseParser.h"

#include "stream/Crc.h"
#include "stream/TraceFormat.h"

#include <cstdio>
#include <cstring>
#include <string>

GseParser::GseParser(PduSink sink, OverflowSink overflow)
    : sink(std::move(sink)), overflow(std::move(overflow)),
      buffers(new uint8_t[size_t(kFragmentIds) * kBufferSize])
{
}

void GseParser::parseGSE(const uint8_t* dataField, uint16_t dfl)
{
    const size_t remaining = dfl / 8;
    if (remaining > 1 && dataField != nullptr)
        parsePackets(dataField, remaining);
}

void GseParser::parsePackets(const uint8_t* data, size_t remaining)
{
    const bool trace = bool(traceHooks.packet);
    GsePacketTrace t;          // the packet being traced
    bool traced = false;       // t holds a packet not yet handed to the trace
    auto flush = [&] {
        if (traced)
            traceHooks.packet(t);
        traced = false;
    };
    size_t offset = 0;
    while (remaining > 1) {
        const uint8_t* p = data + offset;
        const unsigned s = p[0] >> 7, e = (p[0] >> 6) & 1, lt = (p[0] >> 4) & 3;
        const size_t length = size_t((p[0] & 0x0F) << 8 | p[1]);
        if (trace) {
            t = GsePacketTrace();
            t.start = s;
            t.end = e;
            t.labelType = lt;
            t.length = length;
            t.offset = offset;
            traced = true;
        }
        if (s == 0 && e == 0 && lt == 0) {
            t.padding = true;
            break;
        }
        if (remaining - 2 < length)
            break;

        size_t payload = 2;        // from the packet start
        long n = long(length);
        int f = -1;
        if (!(s && e)) {
            if (remaining - 2 == 0)
                break;
            f = p[2];
            t.fragmentId = f;
            if (s) {
                if (remaining < 5)
                    break;
                totalLength[f] = uint16_t(p[3] << 8 | p[4]);
                t.totalLength = totalLength[f];
                payload = 5;
                n -= 3;
            } else {
                payload = 3;
                n -= 1;
            }
        }
        if (s) {
            if (remaining < payload + 2)
                break;
            t.protocol = int(p[payload] << 8 | p[payload + 1]);
            const size_t label = lt == 0 ? 6 : lt == 1 ? 3 : 0;
            if (remaining < payload + 2 + label)
                break;
            payload += 2 + label;
            n -= long(2 + label);
            if (f >= 0) {
                fill[f] = 0;
                headerBytes[f] = uint16_t(2 + label);
                startFields[f][0] = p[3];
                startFields[f][1] = p[4];
                std::memcpy(startFields[f] + 2, p + payload - 2 - label, 2 + label);
            }
        }
        if (n < 0)
            break;   // a length too small for the packet's own fields

        if (trace) {
            t.hasData = true;
            t.dataOffset = offset + payload;
            for (size_t i = 0; i < 8 && payload + i < remaining; ++i)
                t.data[t.dataBytes++] = p[payload + i];
            t.payloadLength = n;
            flush();
        }
        const uint8_t* bytes = p + payload;
        if (f < 0) {
            if (sink)
                sink(bytes, size_t(n));
        } else {
            if (fill[f] + size_t(n) > kBufferSize) {
                if (overflow)
                    overflow(unsigned(f));
                break;
            }
            std::memcpy(buffers.get() + size_t(f) * kBufferSize + fill[f], bytes, size_t(n));
            fill[f] += size_t(n);
        }
        const size_t consumed = payload + size_t(n);
        offset += consumed;
        remaining -= consumed;

        // The total length (TS 102 606 §4.2) counts protocol type, label and
        // PDU data, not the CRC-32; the payloads collected hold PDU data and
        // CRC-32. Streams whose total length also counts the CRC are taken too.
        const uint64_t counted = f >= 0 ? fill[f] + headerBytes[f] : 0;
        if (f >= 0 && !s && e && fill[f] > 3 &&
            (counted == uint64_t(totalLength[f]) + 4 || counted == totalLength[f])) {
            uint8_t* pdu = buffers.get() + size_t(f) * kBufferSize;
            fill[f] -= 4;
            if (traceHooks.complete)
                traceHooks.complete(pdu + fill[f]);
            const uint8_t* sent = pdu + fill[f];
            const uint32_t carried = uint32_t(sent[0]) << 24 | uint32_t(sent[1]) << 16 | uint32_t(sent[2]) << 8 | sent[3];
            const uint32_t computed = crc32Mpeg(pdu, size_t(fill[f]), crc32Mpeg(startFields[f], 2 + headerBytes[f]));
            if (computed != carried)
                failures.fetch_add(1, std::memory_order_relaxed);
            else if (sink)
                sink(pdu, size_t(fill[f]));
        }
    }
    flush();
}
