#include "stream/BbFrameProcessor.h"


#include <cstdio>

namespace {

const char* const kTsGs[4] = {"PACKETIZED", "CONTINUOUS", "RESERVED  ", "TRANSPORT "};
const char* const kRollOffText[4] = {"0.35", "0.25", "0.20", "????"};
const float kRollOff[4] = {0.35f, 0.25f, 0.20f, 0.0f};

} // namespace

std::string bbHeaderLine(const BbHeaderFields& h, int32_t r)
{
    char line[192];
    std::snprintf(line, sizeof line,
                  "BBHEADER TYPE: %s, %s, %s, ISSYI: %c, NPD: %c, RO: %s, ISI: %3u, UPL: 0x%04hx, DFL: 0x%04hx, "
                  "SYNC: 0x%02hhx, SYNCD: 0x%04hx, CRC: 0x%02x | LDPC [%s] %2d/%2d",
                  kTsGs[h.tsgs()], (h.matype1 & 0x20) ? "SIS" : "MIS", (h.matype1 & 0x10) ? "CCM" : "ACM",
                  (h.matype1 & 0x08) ? '1' : '0', (h.matype1 & 0x04) ? '1' : '0', kRollOffText[h.rollOffCode()],
                  unsigned(h.isi), h.upl, h.dfl, h.sync, h.syncd, unsigned(h.crc), r >= 0 ? "OK" : "  ",
                  r >= 0 ? 32 - r : 32, 32);
    return line;
}

void BbFrameProcessor::lost()
{
    if (hooks.discontinuity)
        hooks.discontinuity();
}

void BbFrameProcessor::processBBFrame(uint8_t* frame, size_t length, int32_t r, bool afterGap)
{
    if (frame == nullptr || length < 10) {
        lost();
        return;
    }
    const BbHeaderFields h = parseBbHeader(frame);
    if (r >= 0 && hooks.rollOff)
        hooks.rollOff(kRollOff[h.rollOffCode()]);
    std::lock_guard<std::mutex> lock(consoleMutex);
    if (hooks.header)
        hooks.header(h, r);
    // The packet in progress is completed only by the very next frame's
    // first bytes, and only when those are right.
    if (afterGap || r < 0)
        lost();
    if (r < 0 && !bbHeaderIntact(frame))
        return;
    if (h.tsgs() == 3) {
        extractTransportStream(frame, length, h, r < 0);
    } else if (h.tsgs() == 1 && r >= 0 && h.dfl <= 58112 && 10 + size_t(h.dfl) / 8 <= length) {
        if (hooks.gse)
            hooks.gse(frame + 10, h.dfl);
    }
}

void BbFrameProcessor::extractTransportStream(uint8_t* frame, size_t length, const BbHeaderFields& h, bool damaged)
{
    // A transport-stream frame that gives no packets leaves a hole in the
    // stream; so does one whose first packet would start beyond its data
    // field (its bytes cannot be placed).
    if (h.sync != 0x47 || h.upl != 1504 || h.dfl == 0 || h.dfl % 8 != 0 || h.syncd % 8 != 0 ||
        10 + size_t(h.dfl) / 8 > length || h.syncd > h.dfl || !hooks.transportStream) {
        lost();
        return;
    }
    size_t n = h.dfl / 8;
    const size_t s = h.syncd / 8;
    uint8_t* p = frame + 10;
    // The rest of the packet begun in the previous frame.
    hooks.transportStream(p, s, false);
    p += s;
    n -= s;
    // Packets of a frame that failed decoding keep their place in the
    // stream, marked with the transport error indicator.
    const auto start = [damaged](uint8_t* packet, size_t available) {
        packet[0] = 0x47;   // the byte carried the CRC-8 of the previous packet
        if (damaged && available > 1)
            packet[1] |= 0x80;
    };
    while (n >= 188) {
        start(p, n);
        hooks.transportStream(p, 188, true);
        p += 188;
        n -= 188;
    }
    if (n > 0) {
        start(p, n);
        hooks.transportStream(p, n, true);
    }
}
