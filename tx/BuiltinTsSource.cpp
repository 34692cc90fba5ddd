#include "tx/BuiltinTsSource.h"

#include <algorithm>
#include <cstring>

namespace tx {

BuiltinTsSource::BuiltinTsSource(const BuiltinTsParams& p)
{
    for (size_t i = 0; i < p.serviceNames.size(); ++i) {
        ServiceInfo s;
        s.serviceId = uint16_t(1 + i);
        s.pmtPid = uint16_t(0x1000 + i);
        s.payloadPid = uint16_t(0x0100 + i);
        s.name = p.serviceNames[i];
        s.provider = p.providers.empty() ? std::string() : p.providers[std::min(i, p.providers.size() - 1)];
        list.push_back(s);
    }
    const double packetsPerSecond = p.tsRate / (8.0 * kTsPacketSize);
    tables.push_back({kPatPid, {makePat(p.transportStreamId, list)}, kPatInterval * packetsPerSecond});
    for (const ServiceInfo& s : list)
        tables.push_back({s.pmtPid, {makePmt(s)}, kPmtInterval * packetsPerSecond});
    tables.push_back({kSdtPid, makeSdt(p.transportStreamId, p.originalNetworkId, list),
                      kSdtInterval * packetsPerSecond});
    const double payload = p.payloadRate > 0 ? p.payloadRate : 0.8 * p.tsRate;
    payloadShare = std::min(1.0, payload / p.tsRate);
}

void BuiltinTsSource::makePayload(const ServiceInfo& service, uint8_t* packet)
{
    uint8_t& cc = continuity[service.payloadPid];
    uint64_t& counter = counters[service.payloadPid];
    packet[0] = kTsSync;
    packet[1] = uint8_t(service.payloadPid >> 8);
    packet[2] = uint8_t(service.payloadPid);
    packet[3] = uint8_t(0x10 | cc);
    cc = (cc + 1) & 0x0F;
    for (int b = 0; b < 8; ++b)
        packet[4 + b] = uint8_t(counter >> (56 - 8 * b));
    for (int i = 8; i < 184; ++i)
        packet[4 + i] = uint8_t(counter + uint64_t(i));
    ++counter;
}

bool BuiltinTsSource::nextPacket(uint8_t* packet)
{
    // Tables fall due by packet count; the stream starts with all of them.
    for (Table& t : tables) {
        if (double(packetNumber) >= t.due) {
            for (const Section& s : t.sections) {
                std::vector<uint8_t> packets;
                packetiseSection(s, t.pid, continuity[t.pid], packets);
                queued.insert(queued.end(), packets.begin(), packets.end());
            }
            t.due += std::max(1.0, t.interval);
        }
    }
    ++packetNumber;
    payloadCredit = std::min(payloadCredit + payloadShare, 8.0); // table packets delay, not drop, payload
    if (!queued.empty()) {
        std::copy(queued.begin(), queued.begin() + kTsPacketSize, packet);
        queued.erase(queued.begin(), queued.begin() + kTsPacketSize);
        return true;
    }
    if (payloadCredit >= 1.0 && !list.empty()) {
        payloadCredit -= 1.0;
        makePayload(list[nextService], packet);
        nextService = (nextService + 1) % list.size();
        return true;
    }
    makeNullPacket(packet);
    return true;
}

} // namespace tx
