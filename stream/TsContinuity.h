// Counts transport-stream packets and continuity-counter errors per PID.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>

class TsContinuity {
public:
    // Takes whole 188-byte packets; a trailing part packet is ignored.
    void addPackets(const uint8_t* bytes, size_t length);

    uint64_t packets() const { return packetCount; }
    uint64_t damagedPackets() const { return damagedCount; }   // no sync byte or error indicator set
    // Errors per PID, only PIDs with at least one.
    const std::map<uint16_t, uint64_t>& errors() const { return errorsByPid; }
    uint64_t totalErrors() const;

private:
    void addPacket(const uint8_t* p);

    uint64_t packetCount = 0;
    uint64_t damagedCount = 0;
    std::map<uint16_t, uint64_t> errorsByPid;
    std::array<int8_t, 8192> lastCounter = makeUnseen();   // −1: PID not seen yet
    std::array<bool, 8192> repeated{};                     // the last packet was a legal duplicate

    static std::array<int8_t, 8192> makeUnseen()
    {
        std::array<int8_t, 8192> a{};
        a.fill(-1);
        return a;
    }
};
