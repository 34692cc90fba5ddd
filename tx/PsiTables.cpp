#include "tx/PsiTables.h"

#include "stream/Crc.h"
#include "tx/TsSource.h"

#include <algorithm>

namespace tx {

namespace {

void put16(Section& s, int v)
{
    s.push_back(uint8_t(v >> 8));
    s.push_back(uint8_t(v));
}

// Fills in section_length and appends the CRC-32 (the section must start with
// table_id and the two length bytes).
void finish(Section& s)
{
    const int length = int(s.size()) - 3 + 4;
    s[1] = uint8_t((s[1] & 0xF0) | ((length >> 8) & 0x0F));
    s[2] = uint8_t(length);
    const uint32_t crc = crc32Mpeg(s.data(), s.size());
    for (int b = 3; b >= 0; --b)
        s.push_back(uint8_t(crc >> (8 * b)));
}

// table_id, syntax indicator 1, the 16-bit id, version, current_next 1, section numbers.
Section start(uint8_t tableId, bool reservedFutureUse, int id, int version, int number, int last)
{
    Section s;
    s.push_back(tableId);
    s.push_back(uint8_t(0x80 | (reservedFutureUse ? 0x40 : 0x00) | 0x30));
    s.push_back(0);
    put16(s, id);
    s.push_back(uint8_t(0xC0 | ((version & 0x1F) << 1) | 1));
    s.push_back(uint8_t(number));
    s.push_back(uint8_t(last));
    return s;
}

Section serviceEntry(const ServiceInfo& service)
{
    const std::string provider = dvbText(service.provider);
    const std::string name = dvbText(service.name);
    Section d;
    d.push_back(0x48); // service_descriptor
    d.push_back(uint8_t(3 + provider.size() + name.size()));
    d.push_back(0x01); // digital television service
    d.push_back(uint8_t(provider.size()));
    d.insert(d.end(), provider.begin(), provider.end());
    d.push_back(uint8_t(name.size()));
    d.insert(d.end(), name.begin(), name.end());

    Section e;
    put16(e, service.serviceId);
    e.push_back(0xFC);                                  // reserved, no EIT schedule / p/f
    put16(e, 0x8000 | int(d.size()));                   // running (4), free_CA 0, loop length
    e.insert(e.end(), d.begin(), d.end());
    return e;
}

} // namespace

std::string dvbText(const std::string& utf8)
{
    const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
    });
    std::string out = ascii ? utf8 : "\x15" + utf8;
    if (out.size() > 255)
        out.resize(255);
    return out;
}

Section makePat(uint16_t transportStreamId, const std::vector<ServiceInfo>& services, int version)
{
    Section s = start(0x00, false, transportStreamId, version, 0, 0);
    for (const ServiceInfo& sv : services) {
        put16(s, sv.serviceId);
        put16(s, 0xE000 | sv.pmtPid);
    }
    finish(s);
    return s;
}

Section makePmt(const ServiceInfo& service, int version)
{
    Section s = start(0x02, false, service.serviceId, version, 0, 0);
    put16(s, 0xE000 | kNullPid); // no PCR
    put16(s, 0xF000);            // program_info_length 0
    s.push_back(kPayloadStreamType);
    put16(s, 0xE000 | service.payloadPid);
    put16(s, 0xF000);
    finish(s);
    return s;
}

std::vector<Section> makeSdt(uint16_t transportStreamId, uint16_t originalNetworkId,
                             const std::vector<ServiceInfo>& services, int version)
{
    constexpr int kHeader = 11; // up to and including reserved_future_use after original_network_id
    std::vector<std::vector<Section>> groups(1);
    int size = kHeader + 4;
    for (const ServiceInfo& sv : services) {
        Section e = serviceEntry(sv);
        if (size + int(e.size()) > kMaxSdtSectionBytes && !groups.back().empty()) {
            groups.emplace_back();
            size = kHeader + 4;
        }
        size += int(e.size());
        groups.back().push_back(std::move(e));
    }
    std::vector<Section> sections;
    const int last = int(groups.size()) - 1;
    for (int n = 0; n <= last; ++n) {
        Section s = start(0x42, true, transportStreamId, version, n, last);
        put16(s, originalNetworkId);
        s.push_back(0xFF);
        for (const Section& e : groups[size_t(n)])
            s.insert(s.end(), e.begin(), e.end());
        finish(s);
        sections.push_back(std::move(s));
    }
    return sections;
}

void packetiseSection(const Section& section, uint16_t pid, uint8_t& continuity, std::vector<uint8_t>& out)
{
    size_t done = 0;
    bool first = true;
    while (done < section.size()) {
        const size_t at = out.size();
        out.resize(at + kTsPacketSize, 0xFF);
        uint8_t* p = out.data() + at;
        p[0] = kTsSync;
        p[1] = uint8_t((first ? 0x40 : 0x00) | (pid >> 8));
        p[2] = uint8_t(pid);
        p[3] = uint8_t(0x10 | continuity); // payload only
        continuity = (continuity + 1) & 0x0F;
        int pos = 4;
        if (first)
            p[pos++] = 0; // pointer_field
        const size_t n = std::min(section.size() - done, size_t(kTsPacketSize - pos));
        std::copy(section.begin() + long(done), section.begin() + long(done + n), p + pos);
        done += n;
        first = false;
    }
}

} // namespace tx
