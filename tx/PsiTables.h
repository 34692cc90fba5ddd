// Program-specific information for the built-in TS source: PAT and PMT
// (ISO/IEC 13818-1 §2.4.4) and the SDT (EN 300 468 §5.2.3, table_id 0x42),
// as sections with their CRC-32, and sections cut into TS packets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tx {

struct ServiceInfo {
    uint16_t serviceId;
    uint16_t pmtPid;
    uint16_t payloadPid;
    std::string name;
    std::string provider;
};

constexpr uint16_t kPatPid = 0x0000;
constexpr uint16_t kSdtPid = 0x0011;
constexpr uint16_t kNullPid = 0x1FFF;
// User-private stream type for the counter payload (ISO/IEC 13818-1 table 2-34).
constexpr uint8_t kPayloadStreamType = 0xDD;
// Largest section the SDT may use (EN 300 468 §5.1.1: 1024 bytes in all).
constexpr int kMaxSdtSectionBytes = 1024;

using Section = std::vector<uint8_t>;

Section makePat(uint16_t transportStreamId, const std::vector<ServiceInfo>& services, int version = 0);
Section makePmt(const ServiceInfo& service, int version = 0);
// One or more sections: services go into a new section when the next one
// would not fit in kMaxSdtSectionBytes.
std::vector<Section> makeSdt(uint16_t transportStreamId, uint16_t originalNetworkId,
                             const std::vector<ServiceInfo>& services, int version = 0);

// A name in the DVB character coding (EN 300 468 Annex A): plain when it is
// ASCII, otherwise UTF-8 behind the selector byte 0x15; at most 255 bytes.
std::string dvbText(const std::string& utf8);

// Cuts a section into 188-byte packets on `pid` (pointer field 0 in the first,
// 0xFF stuffing in the last), using and advancing the continuity counter.
void packetiseSection(const Section& section, uint16_t pid, uint8_t& continuity, std::vector<uint8_t>& out);

} // namespace tx
