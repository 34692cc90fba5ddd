#include "stream/SdtMonitor.h"

#include "stream/Crc.h"
#include "stream/TsPacket.h"

#include "stream/DvbText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

void SdtMonitor::scanBlockForSDT(const uint8_t* block)
{
    for (int k = 0; k < 7; ++k)
        scanPacket(block + kTsPacketBytes * k);
}

void SdtMonitor::scanPacket(const uint8_t* p)
{
    const bool transportError = p[1] & 0x80;
    const unsigned pid = unsigned((p[1] & 0x1F) << 8 | p[2]);
    if (transportError || pid != 0x0011)
        return;
    const unsigned afc = (p[3] >> 4) & 3;
    const unsigned pusi = p[1] & 0x40;
    if (trace)
        trace({SdtTrace::Kind::Packet, {unsigned(p[0]), pusi, 0x11u, afc}});

    size_t start;
    if (afc == 1) {
        start = 4;
    } else if (afc == 3) {
        if (p[4] > 183)
            return;
        start = 5 + p[4];
    } else {
        return;
    }
    const uint8_t* payload = p + start;
    size_t length = kTsPacketBytes - start;

    if (pusi) {
        // The pointer field is stepped over; the section is taken to follow it.
        if (length < 1 + 3)
            return;
        payload += 1;
        length -= 1;
        const size_t total = std::min<size_t>(((payload[1] & 0x0F) << 8 | payload[2]) + 3, kMaxSection);
        sectionTotal = uint16_t(total);
        sectionFill = 0;
        const size_t n = std::min(length, total);
        std::memcpy(section, payload, n);
        sectionFill = uint16_t(n);
    } else if (sectionTotal != 0) {
        const size_t n = std::min<size_t>(length, sectionTotal - sectionFill);
        std::memcpy(section + sectionFill, payload, n);
        sectionFill = uint16_t(sectionFill + n);
    }

    if (sectionTotal != 0 && sectionFill == sectionTotal) {
        if (trace)
            trace({SdtTrace::Kind::Section, {}, section, sectionTotal});
        const size_t size = sectionTotal;
        sectionTotal = sectionFill = 0;
        parseSDT(size);
    }
}

void SdtMonitor::parseSDT(size_t size)
{
    if (size <= 10 || size > kMaxSection)
        return;
    const uint8_t* s = section;
    if (trace)
        trace({SdtTrace::Kind::Table, {unsigned(s[0]), unsigned(size), unsigned(s[6]), unsigned(s[7])}});
    // A section whose CRC-32 fails is not read: its names could be anything.
    if (crc32Mpeg(s, size) != 0) {
        crcFailures.fetch_add(1, std::memory_order_relaxed);
        lines.clear();
        return;
    }
    if (s[0] != 0x42)
        return;

    size_t pos = 11;
    long remaining = long(size) - 11;
    bool broken = false;
    while (remaining >= 5 && !broken) {
        const unsigned serviceId = unsigned(s[pos] << 8 | s[pos + 1]);
        const long loop = long((s[pos + 3] & 0x0F) << 8 | s[pos + 4]);
        if (trace)
            trace({SdtTrace::Kind::Service, {serviceId, unsigned(loop)}});
        remaining -= 5;
        if (loop > remaining)
            break;
        size_t d = pos + 5;
        const size_t loopEnd = d + size_t(loop);
        while (d + 2 <= loopEnd) {
            const uint8_t tag = s[d];
            const size_t n = s[d + 1];
            if (n == 0 || d + 2 + n > loopEnd) {
                broken = true;
                break;
            }
            const uint8_t* body = s + d + 2;
            if (trace)
                trace({SdtTrace::Kind::Descriptor, {unsigned(tag), unsigned(n)}, body, n});
            if (tag == 0x48) {
                // service_type, provider name, service name.
                size_t at = 1;
                const size_t providerLength = at < n ? body[at] : n + 1;
                const size_t providerAt = at + 1;
                if (at >= n || providerAt + providerLength > n) {
                    broken = true;
                    break;
                }
                at = providerAt + providerLength;
                const size_t nameLength = at < n ? body[at] : n + 1;
                const size_t nameAt = at + 1;
                if (at >= n || nameAt + nameLength > n) {
                    broken = true;
                    break;
                }
                // The names come from the air: decoded by their character
                // table, with no control character left in them.
                const std::string provider = dvbTextToUtf8(body + providerAt, providerLength);
                const std::string name = dvbTextToUtf8(body + nameAt, nameLength);
                char line[1024];
                std::snprintf(line, sizeof line, "0x%04x %s [ %s ]", serviceId, name.c_str(), provider.c_str());
                if (lines.size() <= kMaxServices) {
                    lines.emplace_back(line);
                    if (lines.size() == kMaxServices)
                        lines.emplace_back("...");
                }
            }
            d += 2 + n;
        }
        pos = loopEnd;
        remaining -= loop;
    }
    if (broken)
        return;
    if (trace)
        trace({SdtTrace::Kind::BytesLeft, {unsigned(remaining)}});
    if (remaining == 4) {
        if (trace)
            trace({SdtTrace::Kind::Crc, {}, s + pos, 4});
        if (s[6] == s[7]) {
            std::string text;
            for (const std::string& l : lines)
                text += l + "\n";
            if (publish)
                publish(lines, text);
            lines.clear();
        }
    }
}
