// Trace hooks for the fuzz targets: every trace formatted, then dropped.
#pragma once

#include "stream/GseParser.h"
#include "stream/SdtMonitor.h"

#include <string>

inline GseParser::Trace formattedGseTrace(bool on)
{
    GseParser::Trace trace;
    if (on) {
        trace.packet = [](const GsePacketTrace& p) { volatile size_t n = formatGsePacket(p).size(); (void)n; };
        trace.complete = [](const uint8_t* crc) { volatile size_t n = formatGseComplete(crc).size(); (void)n; };
    }
    return trace;
}

inline SdtMonitor::Tracer formattedSdtTrace(bool on)
{
    if (!on)
        return nullptr;
    return [](const SdtTrace& event) {
        for (const std::string& line : formatSdtTrace(event)) {
            volatile size_t n = line.size();
            (void)n;
        }
    };
}
