// Service Description Table (EN 300 468 §5.2.3, table_id 0x42) from the
// transport stream: sections of PID 0x0011 reassembled and turned into one
// line per service, "0x%04x <service> [ <provider> ]".
#pragma once

#include "stream/SdtTrace.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class SdtMonitor {
public:
    static constexpr size_t kMaxSection = 1024;
    static constexpr size_t kMaxServices = 128;

    // Receives the service lines and the same as text (each line followed by
    // "\n") when the last section of a table has been parsed.
    using Publisher = std::function<void(const std::vector<std::string>& lines, const std::string& text)>;
    explicit SdtMonitor(Publisher publisher) : publish(std::move(publisher)) {}

    // Scans one block of seven 188-byte packets.
    void scanBlockForSDT(const uint8_t* block);
    // Parses the `size` bytes of the section buffer.
    void parseSDT(size_t size);

    // The debug trace: packets, sections, services and descriptors as they
    // are seen. Empty: no trace (the owner switches it between blocks).
    using Tracer = std::function<void(const SdtTrace& event)>;
    void setTrace(Tracer tracer) { trace = std::move(tracer); }

    std::vector<std::string> pendingLines() const { return lines; }
    // Sections dropped because their CRC-32 failed.
    uint64_t sectionCrcFailures() const { return crcFailures.load(std::memory_order_relaxed); }

private:
    void scanPacket(const uint8_t* packet);

    Publisher publish;
    Tracer trace;
    std::atomic<uint64_t> crcFailures{0};
    uint8_t section[kMaxSection] = {};
    uint16_t sectionTotal = 0;   // 0: no section in progress
    uint16_t sectionFill = 0;
    std::vector<std::string> lines;
};
