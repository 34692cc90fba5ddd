// The built-in transport stream: PAT, PMT and SDT repeated at fixed intervals,
// one counter payload PID per service, null packets to fill a constant rate.
#pragma once

#include "tx/PsiTables.h"
#include "tx/TsSource.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace tx {

struct BuiltinTsParams {
    std::vector<std::string> serviceNames{"TAVIREL TEST"};
    std::vector<std::string> providers{"TAVIREL"}; // one for all, or one per service
    double tsRate = 1e6;       // bit/s of the whole stream (the channel's useful rate)
    double payloadRate = 0.0;  // bit/s of counter packets over all services; <= 0: 80 % of tsRate
    uint16_t transportStreamId = 1;
    uint16_t originalNetworkId = 1;
};

// Payload packets (PID 0x0100 + service index, no PES) carry in their 184-byte
// payload a 64-bit big-endian counter, running per PID from 0, followed by the
// bytes (counter + i) & 0xFF, i = 8 … 183: a lost, repeated or reordered
// packet shows as a counter step other than 1, a damaged one as a pattern error.
class BuiltinTsSource : public TsPacketSource {
public:
    static constexpr double kPatInterval = 0.1; // seconds
    static constexpr double kPmtInterval = 0.1;
    static constexpr double kSdtInterval = 0.5;

    explicit BuiltinTsSource(const BuiltinTsParams& params);

    bool nextPacket(uint8_t* packet) override;
    const std::vector<ServiceInfo>& services() const { return list; }

private:
    struct Table {
        uint16_t pid;
        std::vector<Section> sections;
        double interval;  // in packets
        double due = 0.0; // packet number it is due at
    };
    void makePayload(const ServiceInfo& service, uint8_t* packet);

    std::vector<ServiceInfo> list;
    std::vector<Table> tables;
    std::deque<uint8_t> queued;  // packets of tables being sent
    std::map<uint16_t, uint8_t> continuity;
    std::map<uint16_t, uint64_t> counters;
    double payloadShare;         // payload packets per packet slot
    double payloadCredit = 0.0;
    size_t nextService = 0;
    uint64_t packetNumber = 0;
};

} // namespace tx
