// The SDT monitor's debug trace: what it saw, and the lines an owner prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SdtTrace {
    enum class Kind {
        Packet,       // a packet of PID 0x0011: sync byte, PUSI bit (0x40 or 0), PID, adaptation field control
        Section,      // a section completed: its bytes
        Table,        // a section parsed: table id, section length, section number, last section number
        Service,      // a service: its id, the bytes of its descriptor loop
        Descriptor,   // a descriptor: tag, length; its payload
        BytesLeft,    // after the services: the count
        Crc,          // the CRC-32 bytes
    };
    Kind kind;
    unsigned values[4] = {0, 0, 0, 0};   // as listed for the kind
    const uint8_t* bytes = nullptr;
    size_t length = 0;
};

// The trace lines of one event (two for a section: its length, its bytes).
std::vector<std::string> formatSdtTrace(const SdtTrace& event);
