// Generic Stream Encapsulation (TS 102 606) in the data fields of a DVB-S2
// continuous stream: PDUs reassembled from their fragments and handed on
// without GSE header, protocol type, label or CRC-32.
#pragma once

#include "stream/GseTrace.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class GseParser {
public:
    static constexpr int kFragmentIds = 256;
    static constexpr size_t kBufferSize = 65536;

    using PduSink = std::function<void(const uint8_t* pdu, size_t length)>;
    // A fragment would pass kBufferSize bytes: the rest of the data field is
    // dropped; the owner says so (formatGseOverflow).
    using OverflowSink = std::function<void(unsigned fragmentId)>;
    explicit GseParser(PduSink sink, OverflowSink overflow = {});

    // One data field of `dfl` bits.
    void parseGSE(const uint8_t* dataField, uint16_t dfl);

    // The debug trace: each packet as far as it was parsed, and the CRC-32
    // of each PDU completed from fragments. Empty hooks: no trace (the
    // owner switches them between frames).
    struct Trace {
        std::function<void(const GsePacketTrace& packet)> packet;
        std::function<void(const uint8_t* crc)> complete;
    };
    void setTrace(Trace hooks) { traceHooks = std::move(hooks); }

    // PDUs completed from fragments and dropped because their CRC-32 (over
    // total length, protocol type, label and PDU) failed.
    uint64_t crcFailures() const { return failures.load(std::memory_order_relaxed); }

private:
    void parsePackets(const uint8_t* data, size_t remaining);

    PduSink sink;
    OverflowSink overflow;
    Trace traceHooks;
    // Per fragment ID: the PDU collected so far, its fill, the total length
    // of its first fragment and the protocol type and label bytes that total
    // counts but the payloads do not carry.
    std::unique_ptr<uint8_t[]> buffers;
    uint64_t fill[kFragmentIds] = {};
    uint16_t totalLength[kFragmentIds] = {};
    uint16_t headerBytes[kFragmentIds] = {};
    // The first fragment's total length, protocol type and label as sent:
    // the start of what the CRC-32 covers.
    uint8_t startFields[kFragmentIds][10] = {};
    std::atomic<uint64_t> failures{0};
};
